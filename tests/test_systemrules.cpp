// The rules behind a new system that need no window.
#include "systemrules.h"

#include <QTest>

using namespace qn;

class TestSystemRules : public QObject {
    Q_OBJECT
private slots:
    void machineTypes();
    void idNumbers_data();
    void idNumbers();
    void formatting();
    void caseChangesOnlyAsciiLetters();
};

void TestSystemRules::machineTypes() {
    const QStringList& types = systemrules::machineTypes();
    QCOMPARE(types.size(), 10);
    for (const QString& e : types) {
        QCOMPARE(systemrules::typeCode(e).size(), 4);
        QCOMPARE(e.mid(4, 3), QString(" - "));
        QCOMPARE(systemrules::descriptionOfCode(systemrules::typeCode(e)),
                 systemrules::typeDescription(e));
    }
    QCOMPARE(systemrules::typeDescription("OS2W - OS2 Warp machine"), QString("OS2 Warp machine"));
    QVERIFY(systemrules::typeCode("").isEmpty());
    QVERIFY(systemrules::typeDescription("").isEmpty());
    QVERIFY(systemrules::descriptionOfCode("unix").isNull());
    QVERIFY(systemrules::descriptionOfCode("").isNull());
}

void TestSystemRules::idNumbers_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<qint64>("number");
    QTest::newRow("three-letter prefix") << "ABC0007" << qint64(7);
    QTest::newRow("past 9999") << "ABC12345" << qint64(12345);
    QTest::newRow("no prefix") << "0042" << qint64(42);
    QTest::newRow("long prefix") << "SITE-NORTH-0100" << qint64(100);
    QTest::newRow("trailing blanks") << "AB0009  " << qint64(9);
    QTest::newRow("no digits") << "ABC" << qint64(-1);
    QTest::newRow("digits inside only") << "A1B" << qint64(-1);
    QTest::newRow("empty") << "" << qint64(-1);
}

void TestSystemRules::idNumbers() {
    QFETCH(QString, id);
    QFETCH(qint64, number);
    QCOMPARE(systemrules::idNumber(id), number);
}

void TestSystemRules::formatting() {
    QCOMPARE(systemrules::formatId("ABC", 1), QString("ABC0001"));
    QCOMPARE(systemrules::formatId("ABC", 9999), QString("ABC9999"));
    QCOMPARE(systemrules::formatId("ABC", 10000), QString("ABC10000"));
    QCOMPARE(systemrules::formatId("", 5), QString("0005"));
    QCOMPARE(systemrules::addressKey("10", "0", "0", "5"), QString("10005"));
    QCOMPARE(systemrules::addressKey("1", "11", "1", "1"),
             systemrules::addressKey("11", "1", "1", "1"));
}

void TestSystemRules::caseChangesOnlyAsciiLetters() {
    QCOMPARE(systemrules::asciiLower(QString::fromUtf8("ÄBC-Dé")), QString::fromUtf8("Äbc-dé"));
    QCOMPARE(systemrules::asciiUpper(QString::fromUtf8("äbc-dé")), QString::fromUtf8("äBC-Dé"));
    auto n = systemrules::suggestNames("ann", "LEE");
    QCOMPARE(n.computer, QString("alee"));
    QCOMPARE(n.alias2, QString("lee"));
    QCOMPARE(n.alias4, QString("LEE"));
    n = systemrules::suggestNames("", "");
    QVERIFY(n.computer.isEmpty() && n.alias3.isEmpty());
}

QTEST_GUILESS_MAIN(TestSystemRules)
#include "test_systemrules.moc"
