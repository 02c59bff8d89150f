// Code page 1252 conversion and the expression language of keys and filters.
#include "codepage.h"
#include "error.h"
#include "expression.h"
#include "testutil.h"

#include <QTest>

using namespace qn;

namespace {

std::vector<DbfField> fields() {
    std::vector<DbfField> f;
    int offset = 1;
    for (const FieldDef& d : {FieldDef{"USERFIRST", 'C', 10, 0},
                              {"USERLAST", 'C', 12, 0},
                              {"QTY", 'N', 5, 0},
                              {"BORN", 'D', 8, 0},
                              {"OK", 'L', 1, 0}}) {
        f.emplace_back();
        static_cast<FieldDef&>(f.back()) = d;
        f.back().offset = offset;
        offset += d.length;
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

} // namespace

class TestCodepageExpression : public QObject {
    Q_OBJECT
private slots:
    // Every byte survives a round trip; characters outside the code page are refused; capitals
    // follow the code page (é, š, ÿ have them, the division sign and ß stay as they are).
    void codePage() {
        std::string all;
        for (int i = 0; i < 256; ++i)
            all.push_back(static_cast<char>(i));
        QString text = cp1252::decode(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE((QList<QChar>{text[0x80], text[0x9F], text[0xE9]}),
                 (QList<QChar>{QChar(0x20AC), QChar(0x0178), QChar(0x00E9)}));
        QVERIFY(cp1252::encode(text) == all);
        QVERIFY(!cp1252::encode(QStringLiteral("Łódź")).has_value());
        QCOMPARE(cp1252::firstUnrepresentable(QStringLiteral("Łódź")), QChar(0x0141));
        QVERIFY(!cp1252::encode(QStringLiteral("snow ☃")).has_value());
        QVERIFY(cp1252::encode(QStringLiteral("Müller – €5")).has_value());
        QCOMPARE(cp1252::firstUnrepresentable(QStringLiteral("plain")), QChar());
        QCOMPARE((QList<int>{cp1252::toUpper(0xE9), cp1252::toUpper(0x9A), cp1252::toUpper(0xFF),
                             cp1252::toUpper(0xF7), cp1252::toUpper(0xDF), cp1252::toLower('Q')}),
                 (QList<int>{0xC9, 0x8A, 0x9F, 0xF7, 0xDF, 'q'}));
    }

    void filters_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QByteArray>("rec");
        QTest::addColumn<bool>("expected");
        auto rec = [](const std::string& r) { return QByteArray::fromStdString(r); };
        const auto ann = rec(record("Ann", "O'Brien", "12", "20260102", 'T'));
        // Over Ann O'Brien, 12, 2026-01-02, true: field names in any case, values with case and
        // padding ignored, three kinds of quotes, .AND./.OR./.NOT. with and over or.
        for (const char* f :
             {"USERFIRST = 'Ann'", "UserFirst = 'Ann'", "UserLast = \"O'Brien\"",
              "UserLast = [O'Brien]", "UserFirst = 'Ann' and UserLast = \"O'Brien\"",
              "UserFirst='Ann'.AND.UserLast=[O'Brien]", "UserFirst = 'Bob' or UserLast = [O'Brien]",
              "not UserFirst = 'Bob'", "UserFirst = 'Bob' and UserLast = 'X' or QTY = 12",
              "UserFirst <> 'Bob'", "UserFirst < 'Bob'", "UserFirst > 'Am'"})
            QTest::newRow(f) << QString(f) << ann << true;
        for (const char* f :
             {"UserFirst <= 'Ann'", "'Bob' > UserFirst", "QTY > 11 and QTY < 13", "QTY * 2 = 24",
              "DTOS(BORN) = '20260102'", "OK", "UPPER(UserFirst) = 'ANN'", "'Bri' $ UserLast"})
            QTest::newRow(f) << QString(f) << ann << true;
        for (const char* f :
             {"UserFirst = 'ann'", "UserFirst = 'An'", "UserFirst = 'Anne'",
              "UserFirst = 'Ann' AND UserLast = 'Smith'", "UserFirst = 'Bob' .OR. UserLast = 'X'",
              ".NOT. (UserFirst = 'Ann')", "UserFirst = 'Bob' and (UserLast = 'X' or QTY = 12)",
              "UserFirst # 'Ann'", "UserFirst >= 'Anna'", "OK = .F."})
            QTest::newRow(f) << QString(f) << ann << false;
        QTest::newRow("code page text")
            << QString::fromUtf8("UserFirst = 'Zoë'")
            << rec(record(*cp1252::encode(QString::fromUtf8("Zoë")), "X")) << true;
        QTest::newRow("deleted()")
            << "DELETED()" << rec(record("A", "B", "", "", ' ', '*')) << true;
    }

    void filters() {
        QFETCH(QString, filter);
        QFETCH(QByteArray, rec);
        QFETCH(bool, expected);
        const auto f = fields();
        Expression e(filter, f);
        QCOMPARE(e.test(rec.constData()), expected);
    }

    void invalidExpressionsSayWhy_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("why");
        for (auto [name, text, why] :
             {std::tuple{"empty", "  ", "empty"},
              {"open quote", "UserLast = 'O'Brien'", "unexpected"},
              {"unclosed", "UserLast = 'Smith", "not closed"},
              {"unknown field", "Surname = 'x'", "no field named Surname"},
              {"missing operand", "UserFirst = ", "ends too early"},
              {"type mismatch", "QTY = 'x'", "cannot compare number with text"},
              {"and of text", "UserFirst and UserLast", "logical"},
              {"unknown function", "FOO(UserFirst)", "unknown function"},
              {"wrong argument count", "UPPER(UserFirst, 2)", "argument"},
              {"unbalanced", "(UserFirst = 'a'", "')' expected"},
              {"outside the code page", "UserFirst = 'Łukasz'", "code page 1252"}})
            QTest::newRow(name) << QString::fromUtf8(text) << QString(why);
    }

    void invalidExpressionsSayWhy() {
        QFETCH(QString, text);
        QFETCH(QString, why);
        const auto f = fields();
        for (const QString& part : {QStringLiteral("Invalid expression"), why})
            test::expectStoreError([&] { Expression(text, f); }, part);
    }

    void keyExpressionsHaveTypeAndWidth() {
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

    // Counts far outside int range (found by fuzzing) saturate rather than wrap around.
    void functionsEvaluate_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result");
        for (auto [text, result] :
             {std::pair{"ALLTRIM(USERFIRST)", "ann"},
              {"TRIM(USERLAST) + '!'", "O'Brien!"},
              {"LEFT(USERLAST, 3)", "O'B"},
              {"RIGHT(TRIM(USERLAST), 4)", "rien"},
              {"SUBSTR(USERLAST, 3)", "Brien     "},
              {"STR(QTY, 4)", "  -7"},
              {"IIF(QTY < 0, 'neg', 'pos')", "neg"},
              {"STR(VAL('42') + 1, 2)", "43"},
              {"STR(-QTY, 1)", "7"},
              {"STR(QTY, 1000000000000000000000)", "                                      -7"},
              {"SUBSTR(USERLAST, 100000000000000000000, 2)", ""},
              {"SUBSTR(USERLAST, -100000000000000000000, 2)", "O'"},
              {"LEFT(USERLAST, 100000000000000000000)", "O'Brien     "},
              {"RIGHT(USERLAST, -100000000000000000000)", ""},
              {"STR(QTY, 4, 1000000000000000000000)", "****"}})
            QTest::newRow(text) << QString(text) << QString(result);
    }

    void functionsEvaluate() {
        QFETCH(QString, text);
        QFETCH(QString, result);
        const auto f = fields();
        const std::string r = record("  ann", "O'Brien", "-7");
        QCOMPARE(QString::fromStdString(Expression(text, f).evaluate(r.data()).text), result);
        QCOMPARE(Expression("LEFT(USERLAST, 100000000000000000000)", f).width(), 1000000);
        QVERIFY_THROWS_EXCEPTION(StoreError, Expression("QTY / 0", f).evaluate(r.data()));
    }
};

QTEST_GUILESS_MAIN(TestCodepageExpression)
#include "test_codepage_expression.moc"
