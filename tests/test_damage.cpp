// Damaged and changing table files as users meet them: a table cut inside its last row, an
// index that outlived rows of its table, a table restructured by another program while open.
// Each gives a clear message and right answers; none reads freed memory or a foreign row.
#include "fixtures.h"
#include "recording.h"
#include "search.h"
#include "tablefile.h"

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>

using namespace qn;

namespace {

using test::fieldValues;
using test::fileBytes;

// The header's and a record's length.
std::pair<int, int> layoutOf(const QString& path) {
    DbfFile dbf;
    dbf.open(path, false);
    return {dbf.headerLength(), dbf.recordLength()};
}

// What another dBASE program leaves after changing the field list: the same rows, by field
// name, under the new layout.
void restructure(const QString& path, const QString& change) {
    std::vector<FieldDef> fields;
    std::vector<std::string> tagged;
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
            for (const DbfField& nf : fresh.fields())
                if (const int i = old.fieldIndex(nf.name); i >= 0) {
                    const DbfField& of = old.fields()[size_t(i)];
                    const size_t n = size_t(std::min(nf.length, of.length));
                    rec.replace(size_t(nf.offset), n, from + of.offset, n);
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

} // namespace

class TestDamage : public QObject {
    Q_OBJECT
private slots:
    void init() {
        MessageService::takeShown();
        StoreNotices::instance().take();
    }
    // The second of two systems' address rows cut in half; a third saved, addresses looked up.
    void cutInsideTheLastRowThenSaveAndSearch() {
        test::Inventory inv("QN", false);
        inv.system("QN0001", {{"USERLAST", "QN0001"}}, "10.0.0.5");
        inv.system("QN0002", {{"USERLAST", "QN0002"}}, "10.0.0.7");
        StoreNotices::instance().take();
        const QString ip = inv.ws.path("db/IP.dbf");
        const auto [header, record] = layoutOf(ip);
        const QByteArray whole = fileBytes(ip);
        QVERIFY(QFile::resize(ip, header + record + record / 2));

        DataModule& dm = inv.dm();
        QCOMPARE(search::values(dm, search::IPAddress), QStringList{"10.0.0.5"});
        QCoreApplication::processEvents(); // queued notices have their turn
        const auto shown = MessageService::takeShown();
        QCOMPARE(shown.size(), 1);
        const QString told = shown[0].text;
        QVERIFY2(told.contains("IP.dbf") && told.contains("1 incomplete row"), qPrintable(told));
        const QStringList side = QDir(inv.ws.path("db")).entryList({"IP.dbf.partial-*"});
        QCOMPARE(side.size(), 1);
        QVERIFY(QRegularExpression("^IP\\.dbf\\.partial-\\d{8}-\\d{6}$").match(side[0]).hasMatch());
        QVERIFY2(told.contains(inv.ws.path("db/") + side[0]), qPrintable(told));
        QCOMPARE(fileBytes(inv.ws.path("db/") + side[0]), whole.mid(header + record, record / 2));

        SystemRecord added;
        added.userLast = "New";
        std::tie(added.ip1, added.ip2, added.ip3, added.ip4) = std::tuple("10", "0", "0", "9");
        QCOMPARE(systemrules::writeSystem(dm, "QN", "QN0003", added), QString("QN0003"));
        QCOMPARE(search::values(dm, search::IPAddress), (QStringList{"10.0.0.5", "10.0.0.9"}));
        QVERIFY(search::find(dm, search::IPAddress, "10.0.0.7").isNull());
        for (auto [address, id] : {std::pair{"10.0.0.9", "QN0003"}, {"10.0.0.5", "QN0001"}})
            QCOMPARE(search::find(dm, search::IPAddress, address), DataModule::oneSystemFilter(id));
        QCoreApplication::processEvents();
        QVERIFY(MessageService::takeShown().isEmpty()); // told once, not at every opening
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
        const auto [header, record] = layoutOf(ip);
        QByteArray bytes = fileBytes(ip);
        if (damage == "boundary" || damage == "inside")
            bytes.truncate(header + 2 * record + (damage == "inside") * 7);
        else if (damage == "ahead") // the table put back from a copy taken before the third row
            bytes = twoRows;
        else if (damage == "behind") // the index from a copy older than the table
            test::writeBytes(mdx, twoKeys);
        if (damage == "changed") // a key rewritten in place, and the index change never came
            bytes.replace(bytes.lastIndexOf("1002"), 4, "1009");
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
        QCOMPARE(test::findKey(*t, {{"IPString", gone}}, "SysID"), QString());
        addAddress(*t, "S4", "1004");
        QCOMPARE(test::findKey(*t, {{"IPString", gone}}, "SysID"), QString());
        QCOMPARE(test::findKey(*t, {{"IPString", "1004"}}, "SysID"), QString("S4"));
        keys << "1004";
        keys.sort();
        QCOMPARE(fieldValues(*t, "IPString"), keys);
        t->file()->verifyIndexes();
        t.reset();
        QCOMPARE(layoutOf(ip).first, header);
        QCOMPARE(QFileInfo(ip).size(), header + keys.size() * record + 1);
        QCOMPARE(fileBytes(ip).back(), '\x1A');
        DbfFile dbf;
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

        const QString refused = "IP.dbf was restructured by another program";
        test::expectStoreError([&] { addAddress(*t, "S3", "1003"); }, refused);
        t->cancel();
        test::expectStoreError([&] { t->first(); }, refused);
        test::expectStoreError([&] { t->recordCount(); }, refused);
        test::expectStoreError([&] { other->first(); }, refused);

        // Opened again, the table has its new layout while the other object still holds the old.
        t->close();
        t->open();
        QCOMPARE(t->hasField("NOTE"), change == "field added");
        QCOMPARE(t->hasField("TYPENOTE"), change == "field renamed");
        QCOMPARE(fieldValues(*t, "IPString"), (QStringList{"1001", "1002"}));
        addAddress(*t, "S3", "1003");
        QCOMPARE(fieldValues(*t, "SysID"), (QStringList{"S1", "S2", "S3"}));
        t->file()->verifyIndexes();
        test::expectStoreError([&] { other->recordCount(); }, refused);
        other->close();
        other->open();
        QCOMPARE(other->recordCount(), 3);
    }
};

QN_GUI_TEST_MAIN(TestDamage)
#include "test_damage.moc"
