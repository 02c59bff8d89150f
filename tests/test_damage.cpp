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
#include <QTest>

using namespace qn;
namespace user = test::user;

namespace {

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Rewrites the file in place (same inode, as an in-place export does), keeping its index.
void overwrite(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

void cutTo(const QString& path, qint64 size) {
    QVERIFY(QFile::resize(path, size));
}

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
    QByteArray bytes = readFile(path + ".new");
    bytes.replace(16, 4, QByteArray(4, '\0')); // reserved bytes, as other programs write them
    QFile::remove(path + ".new");
    overwrite(path, bytes);
}

std::unique_ptr<Table> openIp(Engine& engine, const QString& tag = "IP") {
    auto t = std::make_unique<Table>(engine);
    t->setDatabaseName("IP");
    t->setTableName("IP.dbf");
    t->setIndexName(tag);
    t->open();
    return t;
}

void addAddress(Table& t, const QString& id, const QString& key) {
    t.append();
    t.setFieldText("SysID", id);
    t.setFieldText("Computer", "pc-" + key);
    t.setFieldText("IPString", key);
    t.post();
}

QStringList column(Table& t, const QString& field) {
    QStringList out;
    for (t.first(); !t.eof(); t.next())
        out << t.fieldText(field);
    return out;
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
    void cutInsideTheLastRowThenSaveAndSearch();
    void rowsLostOrIndexAhead_data();
    void rowsLostOrIndexAhead();
    void restructuredWhileOpen_data();
    void restructuredWhileOpen();
};

void TestDamage::cutInsideTheLastRowThenSaveAndSearch() {
    Program2 p;
    const Layout l = layoutOf(p.ipFile());
    const QByteArray whole = readFile(p.ipFile());
    const qint64 cut = l.headerLength + l.recordLength + l.recordLength / 2;
    cutTo(p.ipFile(), cut);

    QCOMPARE(p.viewAddresses(), QStringList{"10.0.0.5"});
    const QStringList told = p.shown();
    QCOMPARE(told.size(), 1);
    QVERIFY2(told[0].contains("IP.dbf") && told[0].contains("1 incomplete row"),
             qPrintable(told.join('|')));
    const QStringList side = QDir(p.ws.path("db")).entryList({"IP.dbf.partial-*"});
    QCOMPARE(side.size(), 1);
    QVERIFY(QRegularExpression("^IP\\.dbf\\.partial-\\d{8}-\\d{6}$").match(side[0]).hasMatch());
    QVERIFY2(told[0].contains(p.ws.path("db/") + side[0]), qPrintable(told[0]));
    QCOMPARE(readFile(p.ws.path("db/") + side[0]),
             whole.mid(l.headerLength + l.recordLength, l.recordLength / 2));

    p.saveNewSystem("New", "9");
    QCOMPARE(p.viewAddresses(), (QStringList{"10.0.0.5", "10.0.0.9"}));
    QCOMPARE(p.searchAddress("10.0.0.7"), QString());
    QVERIFY(p.shown().contains("System Not Found!"));
    QCOMPARE(p.searchAddress("10.0.0.9"), QString("QN0003"));
    QCOMPARE(p.searchAddress("10.0.0.5"), QString("QN0001"));
    QCOMPARE(p.shown(), QStringList{}); // told once, not at every opening
}

void TestDamage::rowsLostOrIndexAhead_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("said");
    QTest::newRow("cut at a row boundary") << "boundary"
                                           << "promises 3 rows";
    QTest::newRow("cut inside the last row") << "inside"
                                             << "1 incomplete row";
    QTest::newRow("index from a longer copy") << "index"
                                              << "rebuilt";
}

// Three rows, the third lost one way or another, then a fourth appended: no key may lead to the
// row that took the lost one's number, and the user hears what was found.
void TestDamage::rowsLostOrIndexAhead() {
    QFETCH(QString, damage);
    QFETCH(QString, said);
    test::Sandbox box;
    box.createInventory();
    const QString ip = box.file("IP.dbf");
    QByteArray twoRows;
    {
        auto t = openIp(box.engine());
        addAddress(*t, "S1", "1001");
        addAddress(*t, "S2", "1002");
        twoRows = readFile(ip);
        addAddress(*t, "S3", "1003");
    }
    const Layout l = layoutOf(ip);
    if (damage == "boundary") {
        cutTo(ip, l.headerLength + 2 * l.recordLength);
    } else if (damage == "inside") {
        cutTo(ip, l.headerLength + 2 * l.recordLength + 7);
    } else { // the table put back from a copy taken before the third row; the index kept
        overwrite(ip, twoRows);
    }
    auto t = openIp(box.engine());
    QCOMPARE(column(*t, "IPString"), (QStringList{"1001", "1002"}));
    const QStringList told = StoreNotices::instance().take(); // at open, or when first reached
    QCOMPARE(told.size(), 1);
    QVERIFY2(told[0].contains("IP.dbf") && told[0].contains(said), qPrintable(told[0]));
    t->setKey();
    t->setFieldText("IPString", "1003");
    QVERIFY(!t->gotoKey());
    addAddress(*t, "S4", "1004");
    t->setKey();
    t->setFieldText("IPString", "1003");
    QVERIFY(!t->gotoKey());
    t->setKey();
    t->setFieldText("IPString", "1004");
    QVERIFY(t->gotoKey());
    QCOMPARE(t->fieldText("SysID"), QString("S4"));
    QCOMPARE(column(*t, "IPString"), (QStringList{"1001", "1002", "1004"}));
    t->file()->verifyIndexes();
    QCOMPARE(layoutOf(ip).headerLength, l.headerLength);
    QCOMPARE(QFileInfo(ip).size(), l.headerLength + 3 * l.recordLength + 1);
    QCOMPARE(StoreNotices::instance().take(), QStringList{});
}

void TestDamage::restructuredWhileOpen_data() {
    QTest::addColumn<QString>("change");
    for (const char* c : {"field added", "field removed", "field widened", "field renamed"})
        QTest::newRow(c) << c;
}

void TestDamage::restructuredWhileOpen() {
    QFETCH(QString, change);
    test::Sandbox box;
    box.createInventory();
    auto t = openIp(box.engine());
    auto other = openIp(box.engine(), "SYSID"); // a second table object on the same file
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
    QCOMPARE(column(*t, "IPString"), (QStringList{"1001", "1002"}));
    addAddress(*t, "S3", "1003");
    QCOMPARE(column(*t, "SysID"), (QStringList{"S1", "S2", "S3"}));
    t->file()->verifyIndexes();
    expectRestructured("another table's count", [&] { other->recordCount(); });
    other->close();
    other->open();
    QCOMPARE(other->recordCount(), 3);
}

QN_GUI_TEST_MAIN(TestDamage)
#include "test_damage.moc"
