// Code page 1252 conversion and the expression language of keys and filters.
#include "codepage.h"
#include "error.h"
#include "expression.h"

#include <QTest>

using namespace qn;

class TestCodepageExpression : public QObject {
    Q_OBJECT
private slots:
    void everyByteSurvivesARoundTrip();
    void charactersOutsideTheCodePageAreRefused();
    void upperCaseFollowsTheCodePage();
    void filters_data();
    void filters();
    void invalidExpressionsSayWhy_data();
    void invalidExpressionsSayWhy();
    void keyExpressionsHaveTypeAndWidth();
    void functionsEvaluate();
    void hugeCountsSaturate();
};

namespace {

std::vector<DbfField> fields() {
    std::vector<DbfField> f;
    int offset = 1;
    for (auto [name, type, length] :
         {std::tuple{"USERFIRST", 'C', 10}, std::tuple{"USERLAST", 'C', 12},
          std::tuple{"QTY", 'N', 5}, std::tuple{"BORN", 'D', 8}, std::tuple{"OK", 'L', 1}}) {
        DbfField d;
        d.name = name;
        d.type = type;
        d.length = length;
        d.offset = offset;
        offset += length;
        f.push_back(d);
    }
    return f;
}

// USERFIRST, USERLAST, QTY, BORN, OK laid out as a record.
std::string record(const std::string& first, const std::string& last, const std::string& qty = "",
                   const std::string& born = "", char ok = ' ', char flag = ' ') {
    auto pad = [](std::string s, size_t n, bool right = false) {
        if (right)
            return std::string(n - s.size(), ' ') + s;
        s.resize(n, ' ');
        return s;
    };
    return std::string(1, flag) + pad(first, 10) + pad(last, 12) + pad(qty, 5, true) +
           pad(born, 8) + ok;
}

std::string latin(const QString& s) {
    return *cp1252::encode(s);
}

} // namespace

void TestCodepageExpression::everyByteSurvivesARoundTrip() {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    QString text = cp1252::decode(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(text[0x80], QChar(0x20AC)); // euro sign
    QCOMPARE(text[0x9F], QChar(0x0178));
    QCOMPARE(text[0xE9], QChar(0x00E9));
    auto back = cp1252::encode(text);
    QVERIFY(back.has_value());
    QVERIFY(*back == all);
}

void TestCodepageExpression::charactersOutsideTheCodePageAreRefused() {
    QVERIFY(!cp1252::encode(QStringLiteral("Łódź")).has_value());
    QCOMPARE(cp1252::firstUnrepresentable(QStringLiteral("Łódź")), QChar(0x0141));
    QVERIFY(!cp1252::encode(QStringLiteral("snow ☃")).has_value());
    QVERIFY(cp1252::encode(QStringLiteral("Müller – €5")).has_value());
    QCOMPARE(cp1252::firstUnrepresentable(QStringLiteral("plain")), QChar());
}

void TestCodepageExpression::upperCaseFollowsTheCodePage() {
    QCOMPARE(int(cp1252::toUpper(0xE9)), 0xC9); // é
    QCOMPARE(int(cp1252::toUpper(0x9A)), 0x8A); // š
    QCOMPARE(int(cp1252::toUpper(0xF7)), 0xF7); // division sign has no case
    QCOMPARE(int(cp1252::toUpper(0xFF)), 0x9F); // ÿ
    QCOMPARE(int(cp1252::toLower('Q')), int('q'));
    QCOMPARE(int(cp1252::toUpper(0xDF)), 0xDF); // ß stays
}

void TestCodepageExpression::filters_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QByteArray>("rec");
    QTest::addColumn<bool>("expected");
    auto rec = [](const std::string& r) { return QByteArray::fromStdString(r); };
    const auto ann = rec(record("Ann", "O'Brien", "12", "20260102", 'T'));
    QTest::newRow("equal ignores padding") << "USERFIRST = 'Ann'" << ann << true;
    QTest::newRow("field names in any case") << "UserFirst = 'Ann'" << ann << true;
    QTest::newRow("values compare with case") << "UserFirst = 'ann'" << ann << false;
    QTest::newRow("prefix is not equal") << "UserFirst = 'An'" << ann << false;
    QTest::newRow("longer is not equal") << "UserFirst = 'Anne'" << ann << false;
    QTest::newRow("double quotes hold a quote") << "UserLast = \"O'Brien\"" << ann << true;
    QTest::newRow("brackets hold both") << "UserLast = [O'Brien]" << ann << true;
    QTest::newRow("and") << "UserFirst = 'Ann' and UserLast = \"O'Brien\"" << ann << true;
    QTest::newRow("AND false") << "UserFirst = 'Ann' AND UserLast = 'Smith'" << ann << false;
    QTest::newRow(".AND.") << "UserFirst='Ann'.AND.UserLast=[O'Brien]" << ann << true;
    QTest::newRow("or") << "UserFirst = 'Bob' or UserLast = [O'Brien]" << ann << true;
    QTest::newRow(".OR. false") << "UserFirst = 'Bob' .OR. UserLast = 'X'" << ann << false;
    QTest::newRow("not") << "not UserFirst = 'Bob'" << ann << true;
    QTest::newRow(".NOT.") << ".NOT. (UserFirst = 'Ann')" << ann << false;
    QTest::newRow("parentheses bind")
        << "UserFirst = 'Bob' and (UserLast = 'X' or QTY = 12)" << ann << false;
    QTest::newRow("precedence and over or")
        << "UserFirst = 'Bob' and UserLast = 'X' or QTY = 12" << ann << true;
    QTest::newRow("not equal") << "UserFirst <> 'Bob'" << ann << true;
    QTest::newRow("# is not equal") << "UserFirst # 'Ann'" << ann << false;
    QTest::newRow("less") << "UserFirst < 'Bob'" << ann << true;
    QTest::newRow("greater") << "UserFirst > 'Am'" << ann << true;
    QTest::newRow("less or equal") << "UserFirst <= 'Ann'" << ann << true;
    QTest::newRow("greater or equal") << "UserFirst >= 'Anna'" << ann << false;
    QTest::newRow("literal on the left") << "'Bob' > UserFirst" << ann << true;
    QTest::newRow("numbers") << "QTY > 11 and QTY < 13" << ann << true;
    QTest::newRow("arithmetic") << "QTY * 2 = 24" << ann << true;
    QTest::newRow("dates as text") << "DTOS(BORN) = '20260102'" << ann << true;
    QTest::newRow("logical field") << "OK" << ann << true;
    QTest::newRow("logical literal") << "OK = .F." << ann << false;
    QTest::newRow("upper") << "UPPER(UserFirst) = 'ANN'" << ann << true;
    QTest::newRow("contains") << "'Bri' $ UserLast" << ann << true;
    QTest::newRow("code page text") << QString::fromUtf8("UserFirst = 'Zoë'")
                                    << rec(record(latin(QString::fromUtf8("Zoë")), "X")) << true;
    QTest::newRow("deleted()") << "DELETED()" << rec(record("A", "B", "", "", ' ', '*')) << true;
}

void TestCodepageExpression::filters() {
    QFETCH(QString, filter);
    QFETCH(QByteArray, rec);
    QFETCH(bool, expected);
    const auto f = fields();
    Expression e(filter, f);
    QCOMPARE(e.test(rec.constData()), expected);
}

void TestCodepageExpression::invalidExpressionsSayWhy_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("why");
    QTest::newRow("empty") << "  "
                           << "empty";
    QTest::newRow("open quote") << "UserLast = 'O'Brien'"
                                << "unexpected";
    QTest::newRow("unclosed") << "UserLast = 'Smith"
                              << "not closed";
    QTest::newRow("unknown field") << "Surname = 'x'"
                                   << "no field named Surname";
    QTest::newRow("missing operand") << "UserFirst = "
                                     << "ends too early";
    QTest::newRow("type mismatch") << "QTY = 'x'"
                                   << "cannot compare number with text";
    QTest::newRow("and of text") << "UserFirst and UserLast"
                                 << "logical";
    QTest::newRow("unknown function") << "FOO(UserFirst)"
                                      << "unknown function";
    QTest::newRow("wrong argument count") << "UPPER(UserFirst, 2)"
                                          << "argument";
    QTest::newRow("unbalanced") << "(UserFirst = 'a'"
                                << "')' expected";
    QTest::newRow("outside the code page")
        << QString::fromUtf8("UserFirst = 'Łukasz'") << "code page 1252";
}

void TestCodepageExpression::invalidExpressionsSayWhy() {
    QFETCH(QString, text);
    QFETCH(QString, why);
    const auto f = fields();
    try {
        Expression e(text, f);
        QFAIL("accepted an invalid expression");
    } catch (const StoreError& e) {
        QVERIFY2(e.message().contains(why), qPrintable(e.message()));
        QVERIFY(e.message().startsWith("Invalid expression"));
    }
}

void TestCodepageExpression::keyExpressionsHaveTypeAndWidth() {
    const auto f = fields();
    Expression user("USERFIRST+USERLAST", f);
    QCOMPARE(user.type(), ExprValue::Type::Text);
    QCOMPARE(user.width(), 22);
    std::string r = record("Ann", "Lee");
    QCOMPARE(user.evaluate(r.data()).text, std::string("Ann       Lee         "));
    QCOMPARE(Expression("UPPER(USERLAST)", f).width(), 12);
    QCOMPARE(Expression("SUBSTR(USERLAST, 2, 3)", f).width(), 3);
    QCOMPARE(Expression("QTY", f).type(), ExprValue::Type::Number);
    QCOMPARE(Expression("BORN", f).type(), ExprValue::Type::Date);
    QCOMPARE(Expression("DTOS(BORN)+USERFIRST", f).width(), 18);
    QVERIFY(Expression("USERFIRST", f).fieldNames() == std::vector<std::string>{"USERFIRST"});
}

void TestCodepageExpression::functionsEvaluate() {
    const auto f = fields();
    std::string r = record("  ann", "O'Brien", "-7");
    auto text = [&](const char* e) {
        return QString::fromStdString(Expression(e, f).evaluate(r.data()).text);
    };
    QCOMPARE(text("ALLTRIM(USERFIRST)"), QString("ann"));
    QCOMPARE(text("TRIM(USERLAST) + '!'"), QString("O'Brien!"));
    QCOMPARE(text("LEFT(USERLAST, 3)"), QString("O'B"));
    QCOMPARE(text("RIGHT(TRIM(USERLAST), 4)"), QString("rien"));
    QCOMPARE(text("SUBSTR(USERLAST, 3)"), QString("Brien     "));
    QCOMPARE(text("STR(QTY, 4)"), QString("  -7"));
    QCOMPARE(text("IIF(QTY < 0, 'neg', 'pos')"), QString("neg"));
    QCOMPARE(Expression("VAL('42') + 1", f).evaluate(r.data()).number, 43.0);
    QCOMPARE(Expression("-QTY", f).evaluate(r.data()).number, 7.0);
    try {
        Expression("QTY / 0", f).evaluate(r.data());
        QFAIL("division by zero accepted");
    } catch (const StoreError&) {
    }
}

// Counts far outside int range (found by fuzzing) saturate rather than wrap around.
void TestCodepageExpression::hugeCountsSaturate() {
    const auto f = fields();
    std::string r = record("ann", "O'Brien", "-7");
    auto text = [&](const char* e) {
        return QString::fromStdString(Expression(e, f).evaluate(r.data()).text);
    };
    QCOMPARE(text("STR(QTY, 1000000000000000000000)").size(), 40);
    QCOMPARE(text("SUBSTR(USERLAST, 100000000000000000000, 2)"), QString());
    QCOMPARE(text("SUBSTR(USERLAST, -100000000000000000000, 2)"), QString("O'"));
    QCOMPARE(text("LEFT(USERLAST, 100000000000000000000)"), QString("O'Brien     "));
    QCOMPARE(text("RIGHT(USERLAST, -100000000000000000000)"), QString());
    QCOMPARE(text("STR(QTY, 4, 1000000000000000000000)"), QString("****"));
    QCOMPARE(Expression("LEFT(USERLAST, 100000000000000000000)", f).width(), 1000000);
}

QTEST_GUILESS_MAIN(TestCodepageExpression)
#include "test_codepage_expression.moc"
