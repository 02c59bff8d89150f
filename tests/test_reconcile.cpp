// Comparing the recorded computers with an Auto-Find run's listing, and moving a changed one to
// its found address, over a real address table.
#include "datamodule.h"
#include "error.h"
#include "fixtures.h"
#include "reconcile.h"

#include <QTest>

using namespace qn;
using namespace qn::reconcile;

namespace {

struct Rig {
    test::Sandbox box;
    std::unique_ptr<DataModule> dm;
    Rig() {
        box.createInventory();
        dm = std::make_unique<DataModule>(box.engine());
    }
    /// "SYSID name a.b.c.d"; "-" for an empty name.
    void record(const QString& row) {
        const QStringList p = row.split(u' ');
        test::put(box.engine(), "IP.DBF",
                  test::Row{{"SYSID", p[0]}, {"COMPUTER", p[1] == "-" ? "" : p[1]}} +
                      test::octets(p.value(2)));
    }
    /// "SYSID a.b.c.d key" per row.
    QStringList stored() {
        QStringList out;
        for (test::Row r : test::rows(box.engine(), "IP.DBF"))
            out << r["SYSID"] + ' ' +
                       QStringList{r["IP1"], r["IP2"], r["IP3"], r["IP4"]}.join('.') + ' ' +
                       r["IPSTRING"];
        return out;
    }
};

QStringList described(const std::vector<Finding>& findings) {
    QStringList out;
    for (const Finding& f : findings)
        out << f.row.sysId + ' ' + f.found;
    return out;
}

QStringList silent(const Reconciliation& rec) {
    QStringList out;
    for (qsizetype i = 0; i < rec.silentCount(); ++i) {
        const RecordedRow r = rec.silentRow(i);
        out << r.sysId + ' ' + r.computer + ' ' + r.address;
    }
    return out;
}

} // namespace

class TestReconcile : public QObject {
    Q_OBJECT
private slots:
    // listed: "name" or "name=address the source gave"; answers: "name=address" resolved,
    // "name=" did not resolve, given after toResolve() is read.
    void lists_data() {
        QTest::addColumn<QStringList>("recorded");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QStringList>("toResolve");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("changed");
        QTest::addColumn<QStringList>("silent");
        QTest::addColumn<QStringList>("unresolved");
        using L = QStringList;
        QTest::newRow("one of several rows matches")
            << L{"A1 pc1 10.0.0.1", "A2 pc1 10.0.1.1"} << L{"pc1"} << L{"pc1"} << L{"pc1=10.0.1.1"}
            << L{} << L{} << L{};
        QTest::newRow("none of several rows matches")
            << L{"A1 pc1 10.0.0.1", "A2 pc1 10.0.1.1", "A3 pc3 10.0.0.3"} << L{"pc1", "pc3"}
            << L{"pc1", "pc3"} << L{"pc1=10.0.2.2", "pc3=10.0.0.3"}
            << L{"A1 10.0.2.2", "A2 10.0.2.2"} << L{} << L{};
        QTest::newRow("case and trailing blanks, prefix is another name")
            << L{"A1 PC7 10.0.0.7", "A2 pc71 10.0.0.71", "A3 Caf\u00e9 10.0.0.8"}
            << L{"pc7  ", "CAF\u00c9", "pc7"} << L{"pc7  ", "CAF\u00c9"}
            << L{"pc7  =10.0.0.9", "CAF\u00c9=10.0.0.8"} << L{"A1 10.0.0.9"}
            << L{"A2 pc71 10.0.0.71"} << L{};
        QTest::newRow("unresolved is neither changed nor silent")
            << L{"A1 pc1 10.0.0.1", "A2 pc2 10.0.0.2"} << L{"pc1", "pc2"} << L{"pc1", "pc2"}
            << L{"pc1=", "pc2=10.0.0.2"} << L{} << L{} << L{"pc1"};
        QTest::newRow("not looked up yet")
            << L{"A1 pc1 10.0.0.1"} << L{"pc1"} << L{"pc1"} << L{} << L{} << L{} << L{};
        QTest::newRow("addresses from the source, octets with leading zeros")
            << L{"A1 pc1 010.000.000.001", "A2 pc2 10.0.0.2", "A3 pc3 10.0.0.3"}
            << L{"pc1=10.0.0.1", "pc2=10.0.0.9", "pc3", "pc3=10.0.0.3"} << L{} << L{}
            << L{"A2 10.0.0.9"} << L{} << L{};
        QTest::newRow("a name listed at two addresses")
            << L{"A1 pc1 10.0.0.2"} << L{"pc1=10.0.0.1", "pc1=10.0.0.2"} << L{} << L{} << L{} << L{}
            << L{};
        QTest::newRow("rows without a name or address")
            << L{"A1 - 10.0.0.1", "A2 pc2", "A3 pc3 10.0.0.3"} << L{"", "pc2=10.0.0.2"} << L{}
            << L{} << L{"A2 10.0.0.2"} << L{"A3 pc3 10.0.0.3"} << L{};
        QTest::newRow("empty inventory")
            << L{} << L{"pc1", "pc2=10.0.0.2"} << L{} << L{} << L{} << L{} << L{};
        QTest::newRow("empty listing")
            << L{"A1 pc1 10.0.0.1", "A2 pc2 10.0.0.2"} << L{} << L{} << L{} << L{}
            << L{"A1 pc1 10.0.0.1", "A2 pc2 10.0.0.2"} << L{};
    }
    void lists() {
        QFETCH(QStringList, recorded);
        QFETCH(QStringList, listed);
        QFETCH(QStringList, answers);
        Rig rig;
        for (const QString& r : recorded)
            rig.record(r);
        QStringList names, addresses;
        for (const QString& l : listed) {
            names << l.section(u'=', 0, 0);
            addresses << l.section(u'=', 1);
        }
        Reconciliation rec(names, addresses);
        rec.read(*rig.dm);
        QTEST(rec.toResolve(), "toResolve");
        for (const QString& a : answers) {
            const QString address = a.section(u'=', 1);
            address.isEmpty() ? rec.notFound(a.section(u'=', 0, 0))
                              : rec.found(a.section(u'=', 0, 0), address);
        }
        QTEST(described(rec.changed()), "changed");
        QTEST(silent(rec), "silent");
        QTEST(rec.unresolved(), "unresolved");
        QVERIFY(!rig.dm->IPTable->isActive());
    }
    // The chosen row moves to its found address unless another row holds it or the row
    // changed since it was read; its key follows the octets.
    void update_data() {
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("meanwhile"); // a row recorded or edited after the read
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QStringList>("stored");
        const QStringList before{"A1 10.0.0.1 10001", "A2 1.11.1.1 11111"};
        QTest::newRow("free") << "10.0.0.9"
                              << "" << int(UpdateOutcome::Updated)
                              << QStringList{"A1 10.0.0.9 10009", "A2 1.11.1.1 11111"};
        QTest::newRow("held by another system") << "1.11.1.1"
                                                << "" << int(UpdateOutcome::Taken) << before;
        QTest::newRow("same key, other octets")
            << "11.1.1.1"
            << "" << int(UpdateOutcome::Updated)
            << QStringList{"A1 11.1.1.1 11111", "A2 1.11.1.1 11111"};
        QTest::newRow("recorded meanwhile") << "10.0.0.9"
                                            << "A3 pc3 10.0.0.9" << int(UpdateOutcome::Taken)
                                            << (before + QStringList{"A3 10.0.0.9 10009"});
        QTest::newRow("moved meanwhile") << "10.0.0.9"
                                         << "edit" << int(UpdateOutcome::Moved)
                                         << QStringList{"A1 10.0.0.5 10005", "A2 1.11.1.1 11111"};
    }
    void update() {
        QFETCH(QString, found);
        QFETCH(QString, meanwhile);
        Rig rig;
        rig.record("A1 pc1 10.0.0.1");
        rig.record("A2 pc2 1.11.1.1");
        Reconciliation rec({"pc1"}, {found});
        rec.read(*rig.dm);
        QCOMPARE(rec.changed().size(), size_t(1));
        if (meanwhile == "edit") {
            test::editRow(*rig.box.open("IP.DBF"), {{"IP4", "5"}, {"IPString", "10005"}});
        } else if (!meanwhile.isEmpty()) {
            rig.record(meanwhile);
        }
        QTEST(int(updateAddress(*rig.dm, rec.changed()[0])), "outcome");
        QTEST(rig.stored(), "stored");
    }
    void updateRefusesWhatIsNoAddress() {
        Rig rig;
        rig.record("A1 pc1 10.0.0.1");
        const Finding f{{1, "A1", "pc1", "10.0.0.1"}, "10.0.0.256"};
        QVERIFY_THROWS_EXCEPTION(Error, updateAddress(*rig.dm, f));
        QCOMPARE(rig.stored(), QStringList{"A1 10.0.0.1 10001"});
    }
};

QTEST_GUILESS_MAIN(TestReconcile)
#include "test_reconcile.moc"
