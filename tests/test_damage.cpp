// Damaged and changing table files as users meet them: a table cut inside its last row, an
// index that outlived rows of its table, a table restructured by another program while open.
// Each gives a clear message and right answers; none reads freed memory or a foreign row.
#include "addsystemwindow.h"
#include "datamodule.h"
#include "error.h"
#include "guiutil.h"
#include "ipviewwindow.h"
#include "mainwindow.h"
#include "program.h"
#include "searchwindow.h"
#include "systeminfowindow.h"
#include "tablefile.h"
#include "ui_addsystemwindow.h"
#include "ui_ipviewwindow.h"
#include "ui_mainwindow.h"
#include "ui_searchwindow.h"
#include "ui_systeminfowindow.h"

#include <QDir>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace qn;
namespace user = test::user;

namespace {

using test::fieldValues;
using test::fileBytes;

struct Layout {
    int headerLength, recordLength;
};
Layout layoutOf(const QString& path) {
    DbfFile dbf;
    dbf.open(path, false);
    return {dbf.headerLength(), dbf.recordLength()};
}

// What another dBASE program leaves after changing the field list: the same rows, by field
// name, under the new layout.
void restructure(const QString& path, const QString& change) {
    std::vector<FieldDef> fields;
    std::vector<std::string> tagged;
    std::vector<std::string> rows;
    {
        DbfFile old;
        old.open(path, false);
        for (const DbfField& f : old.fields()) {
            fields.push_back(f);
            if (f.hasIndexTag)
                tagged.push_back(f.name);
        }
        if (change == "field added")
            fields.push_back({"NOTE", 'C', 10, 0});
        else if (change == "field removed")
            fields.pop_back(); // TYPEDESC, in no tag
        else if (change == "field widened")
            fields[1].length = 40; // COMPUTER, in a tag
        else if (change == "field renamed")
            fields.back().name = "TYPENOTE"; // same widths, same header length
        const QString tmp = path + ".new";
        DbfFile::create(tmp, fields, true, tagged);
        DbfFile fresh;
        fresh.open(tmp, true);
        for (uint32_t r = 1; r <= old.recordCount(); ++r) {
            std::string rec = fresh.blankRecord();
            const char* from = old.record(r);
            rec[0] = from[0];
            for (const DbfField& nf : fresh.fields()) {
                const int i = old.fieldIndex(nf.name);
                if (i < 0)
                    continue;
                const DbfField& of = old.fields()[size_t(i)];
                rec.replace(size_t(nf.offset), size_t(std::min(nf.length, of.length)),
                            from + of.offset, size_t(std::min(nf.length, of.length)));
            }
            fresh.appendRecord(rec.data());
        }
    }
    QByteArray bytes = fileBytes(path + ".new");
    bytes.replace(16, 4, QByteArray(4, '\0')); // reserved bytes, as other programs write them
    QFile::remove(path + ".new");
    test::writeBytes(path, bytes); // in place, same inode, as an in-place export does
}

void addAddress(Table& t, const QString& id, const QString& key) {
    test::appendRow(t, {{"SysID", id}, {"Computer", "pc-" + key}, {"IPString", key}});
}

// The program's windows on a folder with two recorded systems at 10.0.0.5 and 10.0.0.7.
struct Program2 {
    Program2() {
        ws.writeSettings(test::settingsFile(ws.path("db"), ""));
        program = std::make_unique<Program>(ws.engine());
        MessageService::takeShown();
        StoreNotices::instance().take();
        for (auto [id, o4] : {std::pair{"QN0001", "5"}, std::pair{"QN0002", "7"}}) {
            test::addRow(ws.engine(), "Systems.dbf", {{"SysID", id}, {"UserLast", id}});
            test::addRow(ws.engine(), "IP.dbf",
                         {{"SysID", id},
                          {"IP1", "10"},
                          {"IP2", "0"},
                          {"IP3", "0"},
                          {"IP4", o4},
                          {"IPString", QString("1000") + o4},
                          {"Computer", QString("pc") + o4}});
        }
    }
    QString ipFile() { return ws.path("db/IP.dbf"); }
    // The messages shown so far, after queued notices had their turn.
    QStringList shown() {
        QCoreApplication::processEvents();
        QStringList out;
        for (const auto& s : MessageService::takeShown())
            out << s.text;
        return out;
    }
    QStringList viewAddresses() {
        program->TForm6().ui().View1->trigger();
        IPViewWindow& v = program->TForm5();
        QAbstractItemModel* m = v.ui().DBGrid->model();
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r)
            out << QStringList{m->index(r, 1).data().toString(), m->index(r, 2).data().toString(),
                               m->index(r, 3).data().toString(), m->index(r, 4).data().toString()}
                       .join('.');
        QTest::keyClick(&v, Qt::Key_Escape);
        return out;
    }
    void saveNewSystem(const QString& last, const QString& octet4) {
        program->TForm6().ui().Create2->trigger();
        AddSystemWindow& w = program->TForm18();
        QApplication::setActiveWindow(&w);
        w.ui().UserLastEdit->setFocus();
        user::type(last);
        w.ui().IP1->setFocus();
        user::type("10.0.0.");
        w.ui().IP4->selectAll();
        user::type(octet4);
        QTest::mouseClick(w.ui().SaveButton, Qt::LeftButton);
        QTest::mouseClick(w.ui().CancelButton, Qt::LeftButton);
    }
    // Searches by address as typed; the System ID that System Info shows, or "".
    QString searchAddress(const QString& address) {
        program->TForm6().ui().Find2->trigger();
        SearchWindow& s = program->TForm2();
        QApplication::setActiveWindow(&s);
        QTest::mouseClick(s.ui().SearchGroup->findChildren<QRadioButton*>()[0], Qt::LeftButton);
        s.ui().SearchList->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        user::type(address);
        QTest::mouseClick(s.ui().FindButton, Qt::LeftButton);
        if (!program->TForm10().isVisible()) {
            QTest::mouseClick(s.ui().CancelButton, Qt::LeftButton);
            return {};
        }
        const QString id = program->TForm10().systemId();
        QTest::mouseClick(program->TForm10().ui().CancelButton, Qt::LeftButton);
        return id;
    }
    test::Workspace ws;
    std::unique_ptr<Program> program;
};

} // namespace

class TestDamage : public QObject {
    Q_OBJECT
private slots:
    void init() {
        MessageService::takeShown();
        StoreNotices::instance().take();
    }
    void cutInsideTheLastRowThenSaveAndSearch() {
        Program2 p;
        const Layout l = layoutOf(p.ipFile());
        const QByteArray whole = fileBytes(p.ipFile());
        const qint64 cut = l.headerLength + l.recordLength + l.recordLength / 2;
        QVERIFY(QFile::resize(p.ipFile(), cut));

        QCOMPARE(p.viewAddresses(), QStringList{"10.0.0.5"});
        const QStringList told = p.shown();
        QCOMPARE(told.size(), 1);
        QVERIFY2(told[0].contains("IP.dbf") && told[0].contains("1 incomplete row"),
                 qPrintable(told.join('|')));
        const QStringList side = QDir(p.ws.path("db")).entryList({"IP.dbf.partial-*"});
        QCOMPARE(side.size(), 1);
        QVERIFY(QRegularExpression("^IP\\.dbf\\.partial-\\d{8}-\\d{6}$").match(side[0]).hasMatch());
        QVERIFY2(told[0].contains(p.ws.path("db/") + side[0]), qPrintable(told[0]));
        QCOMPARE(fileBytes(p.ws.path("db/") + side[0]),
                 whole.mid(l.headerLength + l.recordLength, l.recordLength / 2));

        p.saveNewSystem("New", "9");
        QCOMPARE(p.viewAddresses(), (QStringList{"10.0.0.5", "10.0.0.9"}));
        QCOMPARE(p.searchAddress("10.0.0.7"), QString());
        QVERIFY(p.shown().contains("System Not Found!"));
        QCOMPARE(p.searchAddress("10.0.0.9"), QString("QN0003"));
        QCOMPARE(p.searchAddress("10.0.0.5"), QString("QN0001"));
        QCOMPARE(p.shown(), QStringList{}); // told once, not at every opening
    }

    void rowsLostOrIndexAhead_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("said"); // empty: nothing to tell
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QString>("gone");
        // How the table was damaged (below), what the user hears, the keys left and one that
        // must lead nowhere.
        for (auto [damage, said, keys, gone] :
             {std::tuple{"boundary", "promises 3 rows", "1001 1002", "1003"},
              {"inside", "1 incomplete row", "1001 1002", "1003"},
              {"ahead", "rebuilt", "1001 1002", "1003"},
              {"behind", "rebuilt", "1001 1002 1003", ""},
              {"changed", "rebuilt", "1001 1003 1009", "1002"},
              {"marked", "", "1001 1002 1003", ""}})
            QTest::newRow(damage) << QString(damage) << QString(said) << QString(keys).split(' ')
                                  << QString(gone);
    }

    // Three rows, one lost or changed behind the index one way or another, then a fourth appended:
    // the index agrees with the rows, no key leads to a row that is gone, and the user hears once
    // what was found (nothing when the table was sound).
    void rowsLostOrIndexAhead() {
        QFETCH(QString, damage);
        QFETCH(QString, said);
        QFETCH(QStringList, keys);
        QFETCH(QString, gone);
        test::Sandbox box;
        box.createInventory();
        const QString ip = box.file("IP.dbf"), mdx = box.file("IP.mdx");
        QByteArray twoRows, twoKeys;
        {
            auto t = box.open("IP.dbf", "IP");
            addAddress(*t, "S1", "1001");
            addAddress(*t, "S2", "1002");
            twoRows = fileBytes(ip);
            twoKeys = fileBytes(mdx);
            addAddress(*t, "S3", "1003");
        }
        DbfFile dbf;
        dbf.open(ip, false);
        const int header = dbf.headerLength(), record = dbf.recordLength();
        const int key = header + record + dbf.fields()[size_t(dbf.fieldIndex("IPSTRING"))].offset;
        dbf.close();
        QByteArray bytes = fileBytes(ip);
        if (damage == "boundary" || damage == "inside")
            bytes.truncate(header + 2 * record + (damage == "inside") * 7);
        else if (damage == "ahead") // the table put back from a copy taken before the third row
            bytes = twoRows;
        else if (damage == "behind") // the index from a copy older than the table
            test::writeBytes(mdx, twoKeys);
        if (damage == "changed") // rewritten in place, and the index change never came
            bytes.replace(key, 4, "1009");
        if (damage == "changed" || damage == "marked") // a change marked unfinished
            bytes[14] = 1;
        test::writeBytes(ip, bytes);

        QSignalSpy heard(&StoreNotices::instance(), &StoreNotices::notice);
        auto t = box.open("IP.dbf", "IP");
        QVERIFY(!t->file()->dbf().incomplete());
        QCOMPARE(fieldValues(*t, "IPString"), keys);
        const QStringList told = StoreNotices::instance().take(); // at open, or when first reached
        QCOMPARE(told.size(), said.isEmpty() ? 0 : 1);
        QCOMPARE(heard.count(), told.size());
        if (!said.isEmpty())
            QVERIFY2(told[0].contains("IP.dbf") && told[0].contains(said), qPrintable(told[0]));
        auto found = [&](const QString& k) {
            return test::findKey(*t, {{"IPString", k}}, "SysID");
        };
        QCOMPARE(found(gone), QString());
        addAddress(*t, "S4", "1004");
        QCOMPARE(found(gone), QString());
        QCOMPARE(found("1004"), QString("S4"));
        keys << "1004";
        keys.sort();
        QCOMPARE(fieldValues(*t, "IPString"), keys);
        t->file()->verifyIndexes();
        t.reset();
        QCOMPARE(layoutOf(ip).headerLength, header);
        QCOMPARE(QFileInfo(ip).size(), header + keys.size() * record + 1);
        QCOMPARE(fileBytes(ip).back(), '\x1A');
        dbf.open(ip, false);
        QCOMPARE(qsizetype(dbf.headerCount()), keys.size());
        dbf.close();
        QCOMPARE(StoreNotices::instance().take(), QStringList{});
        QCOMPARE(TableFile(ip).repairs(), 0); // opened again, nothing more to mend
    }

    void restructuredWhileOpen_data() {
        QTest::addColumn<QString>("change");
        for (const char* c : {"field added", "field removed", "field widened", "field renamed"})
            QTest::newRow(c) << c;
    }

    void restructuredWhileOpen() {
        QFETCH(QString, change);
        test::Sandbox box;
        box.createInventory();
        auto t = box.open("IP.dbf", "IP");
        auto other = box.open("IP.dbf", "SYSID"); // a second table object on the same file
        t->setFilter("SysID <> 'none'");
        t->setFiltered(true);
        addAddress(*t, "S1", "1001");
        addAddress(*t, "S2", "1002");
        restructure(box.file("IP.dbf"), change);

        auto expectRestructured = [&](const char* what, const std::function<void()>& step) {
            try {
                step();
                QFAIL(qPrintable(QString("%1 worked on a restructured table").arg(what)));
            } catch (const StoreError& e) {
                QVERIFY2(e.message().contains("IP.dbf") &&
                             e.message().contains("restructured by another program") &&
                             e.message().contains("opened again"),
                         qPrintable(e.message()));
            }
        };
        expectRestructured("append", [&] { addAddress(*t, "S3", "1003"); });
        t->cancel();
        expectRestructured("a move", [&] { t->first(); });
        expectRestructured("a count", [&] { t->recordCount(); });
        expectRestructured("another table's move", [&] { other->first(); });

        // Opened again, the table has its new layout while the other object still holds the old.
        t->close();
        t->open();
        QCOMPARE(t->hasField("NOTE"), change == "field added");
        QCOMPARE(t->hasField("TYPENOTE"), change == "field renamed");
        QCOMPARE(fieldValues(*t, "IPString"), (QStringList{"1001", "1002"}));
        addAddress(*t, "S3", "1003");
        QCOMPARE(fieldValues(*t, "SysID"), (QStringList{"S1", "S2", "S3"}));
        t->file()->verifyIndexes();
        expectRestructured("another table's count", [&] { other->recordCount(); });
        other->close();
        other->open();
        QCOMPARE(other->recordCount(), 3);
    }
};

QN_GUI_TEST_MAIN(TestDamage)
#include "test_damage.moc"
