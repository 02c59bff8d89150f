// Production index behaviour under many mixed changes: every tag ordered and complete.
#include "error.h"
#include "schema.h"
#include "table.h"
#include "tablefile.h"
#include "testutil.h"

#include <QRandomGenerator>
#include <QTest>

#include <map>
#include <set>

using namespace qn;

class TestIndex : public QObject {
    Q_OBJECT
private slots:
    void mixedChangesKeepEveryTagComplete_data();
    void mixedChangesKeepEveryTagComplete();
    void longRunsOfOneKeyStayOrderedByRecord();
    void tagOrderWalksForwardAndBack();
    void uniqueTagKeepsEachKeyWhileAnyRowHasIt();
    void rawTreeInsertRemoveAgreesWithModel();
};

namespace {

QString pick(QRandomGenerator& rng, const QStringList& from) {
    return from[int(rng.bounded(from.size()))];
}

} // namespace

void TestIndex::mixedChangesKeepEveryTagComplete_data() {
    QTest::addColumn<int>("operations");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("3000 ops") << 3000 << 7u;
    QTest::newRow("6000 ops") << 6000 << 12345u;
}

void TestIndex::mixedChangesKeepEveryTagComplete() {
    QFETCH(int, operations);
    QFETCH(quint32, seed);
    test::Sandbox box;
    box.createInventory();
    QRandomGenerator rng(seed);
    const QStringList types{"AAAA", "APPL", "LINX", "NHUB", "WIND"};
    const QStringList names{"alpha", "beta", "gamma", "Delta", "epsilon", "zeta", "Ørsted", "Müller"};
    {
        Table t(box.engine());
        t.setDatabaseName("IP");
        t.setTableName("IP.DBF");
        t.open();
        for (int i = 0; i < operations; ++i) {
            int op = int(rng.bounded(10));
            if (op < 6 || t.isEmpty()) {
                t.append();
                t.setFieldText("SysID", QString("A%1").arg(rng.bounded(400), 4, 10, QChar('0')));
                t.setFieldText("Computer", pick(rng, names) + QString::number(rng.bounded(50)));
                t.setFieldText("IPString", QString::number(rng.bounded(1000)));
                t.setFieldText("Type", pick(rng, types));
                t.setFieldText("Alias1", rng.bounded(3) == 0 ? QString() : pick(rng, names));
                t.post();
            } else {
                // Jump to a random live row by walking a few steps from the first.
                t.first();
                for (int s = int(rng.bounded(40)); s > 0 && !t.eof(); --s)
                    t.next();
                if (op < 8) {
                    t.edit();
                    t.setFieldText("Type", pick(rng, types));
                    t.setFieldText("IPString", QString::number(rng.bounded(1000)));
                    if (op == 7)
                        t.setFieldText("SysID", QString("B%1").arg(rng.bounded(50)));
                    t.post();
                } else {
                    t.remove();
                }
            }
        }
        t.file()->verifyIndexes();
    }
    // Reopened from disk, the tags still agree with the rows.
    TableFile reopened(box.file("IP.dbf"));
    reopened.verifyIndexes();
}

void TestIndex::longRunsOfOneKeyStayOrderedByRecord() {
    test::Sandbox box;
    box.createInventory();
    Table t(box.engine());
    t.setDatabaseName("IP");
    t.setTableName("ip.dbf");
    t.open();
    for (int i = 0; i < 5000; ++i) {
        t.append();
        t.setFieldText("Type", i % 2 ? "WIND" : "LINX");
        t.setFieldText("SysID", QString::number(i));
        t.post();
    }
    t.file()->verifyIndexes();
    t.setIndexName("type");
    uint32_t previous = 0;
    int linx = 0;
    for (t.first(); !t.eof(); t.next()) {
        if (t.fieldText("Type") != "LINX")
            break;
        QVERIFY(t.recNo() > previous);
        previous = t.recNo();
        ++linx;
    }
    QCOMPARE(linx, 2500);
    // Deleting from the middle of a run keeps the run ordered and complete.
    t.first();
    for (int i = 0; i < 1200; ++i)
        t.remove();
    t.file()->verifyIndexes();
    QCOMPARE(t.recordCount(), 3800);
}

void TestIndex::tagOrderWalksForwardAndBack() {
    test::Sandbox box;
    box.createInventory();
    Table t(box.engine());
    t.setDatabaseName("IP");
    t.setTableName("IP.dbf");
    t.open();
    QStringList keys;
    QRandomGenerator rng(3);
    for (int i = 0; i < 2000; ++i) {
        QString k = QString::number(rng.bounded(100000));
        keys << k;
        t.append();
        t.setFieldText("IPString", k);
        t.post();
    }
    t.setIndexName("IP");
    QStringList forward, backward;
    for (t.first(); !t.eof(); t.next())
        forward << t.fieldText("IPString");
    for (t.last(); !t.bof(); t.prior())
        backward << t.fieldText("IPString");
    std::sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) {
        return a.toLatin1() < b.toLatin1();
    });
    QCOMPARE(forward, keys);
    std::reverse(backward.begin(), backward.end());
    QCOMPARE(backward, keys);
}

void TestIndex::uniqueTagKeepsEachKeyWhileAnyRowHasIt() {
    test::Sandbox box;
    box.createInventory();
    Table t(box.engine());
    t.setDatabaseName("IP");
    t.setTableName("Systems.dbf");
    t.open();
    for (const char* c : {"Initech", "Acme", "Initech", "Globex", "Acme", "Initech"}) {
        t.append();
        t.setFieldText("Company", c);
        t.post();
    }
    auto companies = [&] {
        QStringList out;
        for (t.first(); !t.eof(); t.next())
            out << t.fieldText("Company");
        return out;
    };
    t.setIndexName("Company");
    QCOMPARE(companies(), QStringList({"Acme", "Globex", "Initech"}));
    QCOMPARE(t.recordCount(), 3);
    // Remove the row that stands for Initech, then rename another: the key survives while a
    // row still has it, and goes when none does.
    t.setIndexName("");
    t.first();
    t.remove(); // record 1, Initech
    t.setIndexName("Company");
    QCOMPARE(companies(), QStringList({"Acme", "Globex", "Initech"}));
    t.file()->verifyIndexes();
    t.setIndexName("");
    for (t.first(); !t.eof(); t.next())
        if (t.fieldText("Company") == "Initech") {
            t.edit();
            t.setFieldText("Company", "Umbrella");
            t.post();
        }
    t.setIndexName("Company");
    QCOMPARE(companies(), QStringList({"Acme", "Globex", "Umbrella"}));
    t.file()->verifyIndexes();
}

// The B-tree alone against a model, with a few distinct keys so that runs span many leaves.
void TestIndex::rawTreeInsertRemoveAgreesWithModel() {
    test::Sandbox box;
    QString path = box.file("raw.dbf");
    schema::createTableFiles(path, {{"K", 'C', 6, 0}}, {TagSpec{"K", "K", "", 'C', 0, false, false}});
    TableFile file(path);
    MdxTag& tag = *file.tag(0).index;
    std::set<std::pair<std::string, uint32_t>> model;
    QRandomGenerator rng(99);
    for (int i = 0; i < 20000; ++i) {
        std::string key = "k" + std::to_string(rng.bounded(4));
        key.resize(6, ' ');
        uint32_t rec = rng.bounded(5000) + 1;
        if (rng.bounded(3) == 0 && !model.empty()) {
            auto it = model.lower_bound({key, rec});
            if (it == model.end())
                it = model.begin();
            QVERIFY(tag.remove(it->first, it->second));
            model.erase(it);
        } else if (!model.count({key, rec})) {
            tag.insert(key, rec);
            model.insert({key, rec});
        }
    }
    std::vector<MdxTag::Entry> entries = tag.check();
    QCOMPARE(entries.size(), model.size());
    auto it = model.begin();
    for (const auto& e : entries) {
        QCOMPARE(e.key, it->first);
        QCOMPARE(e.recno, it->second);
        ++it;
    }
    QVERIFY(!tag.remove("k9    ", 1));
    MdxTag::Entry e;
    QVERIFY(tag.seek("k2    ", 0, e));
    QCOMPARE(e.key, std::string("k2    "));
    QCOMPARE(e.recno, model.lower_bound({"k2    ", 0})->second);
}

QTEST_GUILESS_MAIN(TestIndex)
#include "test_index.moc"
