#include "expression.h"

#include "codepage.h"
#include "error.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace qn {

struct ExprNode {
    enum class Kind { Literal, Field, Call, Binary, Not, Negate } kind = Kind::Literal;
    enum class Op { Add, Sub, Mul, Div, Eq, Ne, Lt, Le, Gt, Ge, And, Or, Contains } op = Op::Add;
    ExprValue value;      // Literal
    DbfField field;       // Field: a copy, so that no node points into a table's field list
    std::string function; // Call, upper case
    std::vector<std::unique_ptr<ExprNode>> args;
    ExprValue::Type type = ExprValue::Type::Text;
    int width = 0;
};

namespace {

using Type = ExprValue::Type;
using Node = ExprNode;
using NodePtr = std::unique_ptr<ExprNode>;

// Compares two texts as if the shorter were padded with spaces.
int compareText(const char* a, size_t al, const char* b, size_t bl) {
    size_t n = std::min(al, bl);
    int c = std::memcmp(a, b, n);
    if (c != 0)
        return c;
    const char* rest = al > bl ? a + n : b + n;
    size_t restLen = al > bl ? al - n : bl - n;
    for (size_t i = 0; i < restLen; ++i) {
        auto ch = static_cast<unsigned char>(rest[i]);
        if (ch != ' ')
            return (ch > ' ' ? 1 : -1) * (al > bl ? 1 : -1);
    }
    return 0;
}

std::string rtrim(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}
std::string ltrim(std::string s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    return s.substr(i);
}

// A number from an expression used as a count or position; out-of-range and NaN values
// saturate instead of overflowing the conversion.
long long toCount(double d, long long lo = -1000000, long long hi = 1000000) {
    if (!(d >= double(lo)))
        return lo;
    if (d > double(hi))
        return hi;
    return static_cast<long long>(d);
}

double parseNumber(const char* p, size_t n) {
    std::string s(p, n);
    s = ltrim(rtrim(s));
    if (s.empty())
        return 0;
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    return v;
}

QString typeName(Type t) {
    switch (t) {
    case Type::Text:
        return QStringLiteral("text");
    case Type::Number:
        return QStringLiteral("number");
    case Type::Logical:
        return QStringLiteral("logical");
    case Type::Date:
        return QStringLiteral("date");
    }
    return {};
}

class Parser {
public:
    Parser(const QString& text, const std::vector<DbfField>& fields)
        : m_s(text), m_fields(fields) {}

    NodePtr parseAll() {
        NodePtr n = parseOr();
        skipSpace();
        if (m_pos < m_s.size())
            fail(QStringLiteral("unexpected '%1'").arg(m_s.mid(m_pos, 12)));
        return n;
    }

private:
    [[noreturn]] void fail(const QString& why) const {
        throw StoreError(QStringLiteral("Invalid expression \"%1\": %2 at position %3.")
                             .arg(m_s, why)
                             .arg(m_pos + 1));
    }

    void skipSpace() {
        while (m_pos < m_s.size() && m_s[m_pos].isSpace())
            ++m_pos;
    }

    bool isWordChar(QChar c) const { return c.isLetterOrNumber() || c == u'_'; }

    // Consumes a keyword written as WORD or .WORD. when it stands alone.
    bool acceptWord(const char* word) {
        skipSpace();
        QString w = QString::fromLatin1(word);
        qsizetype p = m_pos;
        bool dotted = p < m_s.size() && m_s[p] == u'.';
        if (dotted)
            ++p;
        if (m_s.mid(p, w.size()).compare(w, Qt::CaseInsensitive) != 0)
            return false;
        p += w.size();
        if (dotted) {
            if (p >= m_s.size() || m_s[p] != u'.')
                return false;
            ++p;
        } else if (p < m_s.size() && isWordChar(m_s[p])) {
            return false;
        }
        m_pos = p;
        return true;
    }

    bool accept(const char* sym) {
        skipSpace();
        QString s = QString::fromLatin1(sym);
        if (m_s.mid(m_pos, s.size()) == s) {
            m_pos += s.size();
            return true;
        }
        return false;
    }

    NodePtr binary(Node::Op op, NodePtr l, NodePtr r) {
        auto n = std::make_unique<Node>();
        n->kind = Node::Kind::Binary;
        n->op = op;
        switch (op) {
        case Node::Op::And:
        case Node::Op::Or:
            if (l->type != Type::Logical || r->type != Type::Logical)
                fail(QStringLiteral("AND and OR need logical operands"));
            n->type = Type::Logical;
            break;
        case Node::Op::Eq:
        case Node::Op::Ne:
        case Node::Op::Lt:
        case Node::Op::Le:
        case Node::Op::Gt:
        case Node::Op::Ge:
            if (l->type != r->type)
                fail(QStringLiteral("cannot compare %1 with %2")
                         .arg(typeName(l->type), typeName(r->type)));
            n->type = Type::Logical;
            break;
        case Node::Op::Contains:
            if (l->type != Type::Text || r->type != Type::Text)
                fail(QStringLiteral("$ needs text operands"));
            n->type = Type::Logical;
            break;
        case Node::Op::Add:
            if (l->type == Type::Text && r->type == Type::Text) {
                n->type = Type::Text;
                n->width = l->width + r->width;
            } else if (l->type == Type::Number && r->type == Type::Number) {
                n->type = Type::Number;
                n->width = std::max(l->width, r->width);
            } else {
                fail(QStringLiteral("cannot add %1 and %2")
                         .arg(typeName(l->type), typeName(r->type)));
            }
            break;
        case Node::Op::Sub:
        case Node::Op::Mul:
        case Node::Op::Div:
            if (l->type != Type::Number || r->type != Type::Number)
                fail(QStringLiteral("arithmetic needs numbers"));
            n->type = Type::Number;
            n->width = std::max(l->width, r->width);
            break;
        }
        n->args.push_back(std::move(l));
        n->args.push_back(std::move(r));
        return n;
    }

    NodePtr parseOr() {
        NodePtr l = parseAnd();
        while (acceptWord("OR"))
            l = binary(Node::Op::Or, std::move(l), parseAnd());
        return l;
    }

    NodePtr parseAnd() {
        NodePtr l = parseNot();
        while (acceptWord("AND"))
            l = binary(Node::Op::And, std::move(l), parseNot());
        return l;
    }

    NodePtr parseNot() {
        if (acceptWord("NOT") || accept("!")) {
            NodePtr operand = parseNot();
            if (operand->type != Type::Logical)
                fail(QStringLiteral("NOT needs a logical operand"));
            auto n = std::make_unique<Node>();
            n->kind = Node::Kind::Not;
            n->type = Type::Logical;
            n->args.push_back(std::move(operand));
            return n;
        }
        return parseCompare();
    }

    NodePtr parseCompare() {
        NodePtr l = parseAdd();
        static const struct {
            const char* sym;
            Node::Op op;
        } ops[] = {{"<>", Node::Op::Ne},     {"!=", Node::Op::Ne}, {"#", Node::Op::Ne},
                   {"<=", Node::Op::Le},     {">=", Node::Op::Ge}, {"==", Node::Op::Eq},
                   {"=", Node::Op::Eq},      {"<", Node::Op::Lt},  {">", Node::Op::Gt},
                   {"$", Node::Op::Contains}};
        for (const auto& o : ops)
            if (accept(o.sym))
                return binary(o.op, std::move(l), parseAdd());
        return l;
    }

    NodePtr parseAdd() {
        NodePtr l = parseMul();
        for (;;) {
            if (accept("+"))
                l = binary(Node::Op::Add, std::move(l), parseMul());
            else if (accept("-"))
                l = binary(Node::Op::Sub, std::move(l), parseMul());
            else
                return l;
        }
    }

    NodePtr parseMul() {
        NodePtr l = parseUnary();
        for (;;) {
            if (accept("*"))
                l = binary(Node::Op::Mul, std::move(l), parseUnary());
            else if (accept("/"))
                l = binary(Node::Op::Div, std::move(l), parseUnary());
            else
                return l;
        }
    }

    NodePtr parseUnary() {
        if (accept("-")) {
            NodePtr operand = parseUnary();
            if (operand->type != Type::Number)
                fail(QStringLiteral("minus needs a number"));
            auto n = std::make_unique<Node>();
            n->kind = Node::Kind::Negate;
            n->type = Type::Number;
            n->args.push_back(std::move(operand));
            return n;
        }
        return parsePrimary();
    }

    NodePtr literalText(const QString& s) {
        auto bytes = cp1252::encode(s);
        if (!bytes)
            fail(QStringLiteral("the character '%1' cannot be used (code page 1252)")
                     .arg(cp1252::firstUnrepresentable(s)));
        auto n = std::make_unique<Node>();
        n->kind = Node::Kind::Literal;
        n->type = Type::Text;
        n->value.type = Type::Text;
        n->value.text = *bytes;
        n->width = static_cast<int>(bytes->size());
        return n;
    }

    NodePtr parsePrimary() {
        skipSpace();
        if (m_pos >= m_s.size())
            fail(QStringLiteral("the expression ends too early"));
        QChar c = m_s[m_pos];
        if (c == u'\'' || c == u'"' || c == u'[') {
            QChar close = c == u'[' ? QChar(u']') : c;
            qsizetype end = m_s.indexOf(close, m_pos + 1);
            if (end < 0)
                fail(QStringLiteral("a text value is not closed"));
            QString s = m_s.mid(m_pos + 1, end - m_pos - 1);
            m_pos = end + 1;
            return literalText(s);
        }
        if (c == u'(') {
            ++m_pos;
            NodePtr n = parseOr();
            if (!accept(")"))
                fail(QStringLiteral("')' expected"));
            return n;
        }
        if (c.isDigit() || (c == u'.' && m_pos + 1 < m_s.size() && m_s[m_pos + 1].isDigit())) {
            qsizetype start = m_pos;
            while (m_pos < m_s.size() && (m_s[m_pos].isDigit() || m_s[m_pos] == u'.'))
                ++m_pos;
            bool ok = false;
            double v = m_s.mid(start, m_pos - start).toDouble(&ok);
            if (!ok)
                fail(QStringLiteral("invalid number"));
            auto n = std::make_unique<Node>();
            n->kind = Node::Kind::Literal;
            n->type = Type::Number;
            n->value.type = Type::Number;
            n->value.number = v;
            n->width = int(m_pos - start);
            return n;
        }
        if (c == u'.' && m_pos + 2 < m_s.size() && m_s[m_pos + 2] == u'.') {
            QChar v = m_s[m_pos + 1].toUpper();
            if (v == u'T' || v == u'F' || v == u'Y' || v == u'N') {
                m_pos += 3;
                auto n = std::make_unique<Node>();
                n->kind = Node::Kind::Literal;
                n->type = Type::Logical;
                n->value.type = Type::Logical;
                n->value.logical = v == u'T' || v == u'Y';
                n->width = 1;
                return n;
            }
        }
        if (c.isLetter() || c == u'_') {
            qsizetype start = m_pos;
            while (m_pos < m_s.size() && isWordChar(m_s[m_pos]))
                ++m_pos;
            QString word = m_s.mid(start, m_pos - start);
            skipSpace();
            if (m_pos < m_s.size() && m_s[m_pos] == u'(')
                return parseCall(word.toUpper(), start);
            return fieldNode(word, start);
        }
        fail(QStringLiteral("unexpected '%1'").arg(c));
    }

    NodePtr fieldNode(const QString& word, qsizetype at) {
        std::string name = word.toUpper().toStdString();
        for (const DbfField& f : m_fields) {
            if (f.name != name)
                continue;
            auto n = std::make_unique<Node>();
            n->kind = Node::Kind::Field;
            n->field = f;
            n->width = f.length;
            n->type = f.type == 'C'   ? Type::Text
                      : f.type == 'N' ? Type::Number
                      : f.type == 'D' ? Type::Date
                                      : Type::Logical;
            return n;
        }
        m_pos = at;
        fail(QStringLiteral("the table has no field named %1").arg(word));
    }

    NodePtr parseCall(const QString& name, qsizetype at) {
        accept("(");
        auto n = std::make_unique<Node>();
        n->kind = Node::Kind::Call;
        n->function = name.toStdString();
        skipSpace();
        if (!accept(")")) {
            do
                n->args.push_back(parseOr());
            while (accept(","));
            if (!accept(")"))
                fail(QStringLiteral("')' expected"));
        }
        auto argc = n->args.size();
        auto need = [&](size_t lo, size_t hi, std::initializer_list<Type> types) {
            if (argc < lo || argc > hi) {
                m_pos = at;
                fail(QStringLiteral("%1() takes %2 argument(s)")
                         .arg(name)
                         .arg(lo == hi ? QString::number(lo)
                                       : QStringLiteral("%1 to %2").arg(lo).arg(hi)));
            }
            size_t i = 0;
            for (Type t : types) {
                if (i < argc && n->args[i]->type != t) {
                    m_pos = at;
                    fail(QStringLiteral("argument %1 of %2() must be %3")
                             .arg(i + 1)
                             .arg(name, typeName(t)));
                }
                ++i;
            }
        };
        auto literalInt = [&](size_t i, int fallback) {
            if (i < argc && n->args[i]->kind == Node::Kind::Literal)
                return static_cast<int>(toCount(n->args[i]->value.number));
            return fallback;
        };
        const std::string& f = n->function;
        if (f == "UPPER" || f == "LOWER" || f == "TRIM" || f == "RTRIM" || f == "LTRIM" ||
            f == "ALLTRIM") {
            need(1, 1, {Type::Text});
            n->type = Type::Text;
            n->width = n->args[0]->width;
        } else if (f == "SUBSTR") {
            need(2, 3, {Type::Text, Type::Number, Type::Number});
            n->type = Type::Text;
            int start = literalInt(1, 1);
            n->width = argc == 3 ? literalInt(2, n->args[0]->width)
                                 : std::max(0, n->args[0]->width - start + 1);
        } else if (f == "LEFT" || f == "RIGHT") {
            need(2, 2, {Type::Text, Type::Number});
            n->type = Type::Text;
            n->width = literalInt(1, n->args[0]->width);
        } else if (f == "STR") {
            need(1, 3, {Type::Number, Type::Number, Type::Number});
            n->type = Type::Text;
            n->width = literalInt(1, 10);
        } else if (f == "VAL") {
            need(1, 1, {Type::Text});
            n->type = Type::Number;
            n->width = n->args[0]->width;
        } else if (f == "DTOS") {
            need(1, 1, {Type::Date});
            n->type = Type::Text;
            n->width = 8;
        } else if (f == "DELETED") {
            need(0, 0, {});
            n->type = Type::Logical;
            n->width = 1;
        } else if (f == "IIF") {
            need(3, 3, {Type::Logical});
            if (n->args[1]->type != n->args[2]->type) {
                m_pos = at;
                fail(QStringLiteral("both results of IIF() must have one type"));
            }
            n->type = n->args[1]->type;
            n->width = std::max(n->args[1]->width, n->args[2]->width);
        } else {
            m_pos = at;
            fail(QStringLiteral("unknown function %1()").arg(name));
        }
        if (n->width < 0)
            n->width = 0;
        return n;
    }

    QString m_s;
    qsizetype m_pos = 0;
    const std::vector<DbfField>& m_fields;
};

ExprValue fieldValue(const DbfField& f, const char* rec) {
    ExprValue v;
    const char* p = rec + f.offset;
    switch (f.type) {
    case 'C':
        v.type = Type::Text;
        v.text.assign(p, size_t(f.length));
        break;
    case 'D':
        v.type = Type::Date;
        v.text.assign(p, size_t(f.length));
        break;
    case 'N':
        v.type = Type::Number;
        v.number = parseNumber(p, size_t(f.length));
        break;
    default:
        v.type = Type::Logical;
        v.logical = *p == 'T' || *p == 't' || *p == 'Y' || *p == 'y';
        break;
    }
    return v;
}

ExprValue eval(const Node& n, const char* rec);

int compareValues(const ExprValue& a, const ExprValue& b) {
    switch (a.type) {
    case Type::Number:
        return a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
    case Type::Logical:
        return int(a.logical) - int(b.logical);
    default:
        return compareText(a.text.data(), a.text.size(), b.text.data(), b.text.size());
    }
}

bool compareResult(Node::Op op, int c) {
    switch (op) {
    case Node::Op::Eq:
        return c == 0;
    case Node::Op::Ne:
        return c != 0;
    case Node::Op::Lt:
        return c < 0;
    case Node::Op::Le:
        return c <= 0;
    case Node::Op::Gt:
        return c > 0;
    default:
        return c >= 0;
    }
}

bool isCompare(Node::Op op) {
    return op == Node::Op::Eq || op == Node::Op::Ne || op == Node::Op::Lt || op == Node::Op::Le ||
           op == Node::Op::Gt || op == Node::Op::Ge;
}

// Logical evaluation with a fast path for "text field <op> literal" that reads the record
// bytes in place.
bool evalBool(const Node& n, const char* rec) {
    if (n.kind == Node::Kind::Binary) {
        if (n.op == Node::Op::And)
            return evalBool(*n.args[0], rec) && evalBool(*n.args[1], rec);
        if (n.op == Node::Op::Or)
            return evalBool(*n.args[0], rec) || evalBool(*n.args[1], rec);
        if (isCompare(n.op)) {
            const Node& l = *n.args[0];
            const Node& r = *n.args[1];
            if (l.kind == Node::Kind::Field && r.kind == Node::Kind::Literal &&
                l.type != Type::Number && l.type != Type::Logical) {
                const std::string& t = r.value.text;
                return compareResult(n.op, compareText(rec + l.field.offset, size_t(l.field.length),
                                                       t.data(), t.size()));
            }
            if (r.kind == Node::Kind::Field && l.kind == Node::Kind::Literal &&
                r.type != Type::Number && r.type != Type::Logical) {
                const std::string& t = l.value.text;
                return compareResult(n.op, compareText(t.data(), t.size(), rec + r.field.offset,
                                                       size_t(r.field.length)));
            }
        }
    } else if (n.kind == Node::Kind::Not) {
        return !evalBool(*n.args[0], rec);
    }
    return eval(n, rec).logical;
}

ExprValue text(std::string s) {
    ExprValue v;
    v.type = Type::Text;
    v.text = std::move(s);
    return v;
}

ExprValue number(double d) {
    ExprValue v;
    v.type = Type::Number;
    v.number = d;
    return v;
}

ExprValue logical(bool b) {
    ExprValue v;
    v.type = Type::Logical;
    v.logical = b;
    return v;
}

std::string strOf(double value, int width, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, value);
    std::string s(buf);
    if (int(s.size()) > width)
        s.assign(size_t(width), '*');
    return s;
}

ExprValue call(const Node& n, const char* rec) {
    const std::string& f = n.function;
    auto arg = [&](size_t i) { return eval(*n.args[i], rec); };
    if (f == "UPPER" || f == "LOWER") {
        std::string s = arg(0).text;
        for (char& c : s)
            c = static_cast<char>(f == "UPPER" ? cp1252::toUpper(static_cast<unsigned char>(c))
                                               : cp1252::toLower(static_cast<unsigned char>(c)));
        return text(std::move(s));
    }
    if (f == "TRIM" || f == "RTRIM")
        return text(rtrim(arg(0).text));
    if (f == "LTRIM")
        return text(ltrim(arg(0).text));
    if (f == "ALLTRIM")
        return text(ltrim(rtrim(arg(0).text)));
    if (f == "SUBSTR" || f == "LEFT" || f == "RIGHT") {
        std::string s = arg(0).text;
        long long size = static_cast<long long>(s.size());
        long long start = 0, len = size;
        if (f == "SUBSTR") {
            start = toCount(arg(1).number) - 1;
            len = n.args.size() > 2 ? toCount(arg(2).number) : size - start;
        } else if (f == "LEFT") {
            len = toCount(arg(1).number);
        } else {
            len = toCount(arg(1).number);
            start = size - len;
        }
        start = std::clamp(start, 0LL, size);
        len = std::clamp(len, 0LL, size - start);
        return text(s.substr(size_t(start), size_t(len)));
    }
    if (f == "STR") {
        int width = n.args.size() > 1 ? int(toCount(arg(1).number)) : 10;
        int decimals = n.args.size() > 2 ? int(toCount(arg(2).number)) : 0;
        return text(strOf(arg(0).number, std::clamp(width, 1, 40), std::clamp(decimals, 0, 20)));
    }
    if (f == "VAL") {
        std::string s = arg(0).text;
        return number(parseNumber(s.data(), s.size()));
    }
    if (f == "DTOS")
        return text(arg(0).text);
    if (f == "DELETED")
        return logical(rec[0] == '*');
    // IIF
    return evalBool(*n.args[0], rec) ? arg(1) : arg(2);
}

ExprValue eval(const Node& n, const char* rec) {
    switch (n.kind) {
    case Node::Kind::Literal:
        return n.value;
    case Node::Kind::Field:
        return fieldValue(n.field, rec);
    case Node::Kind::Call:
        return call(n, rec);
    case Node::Kind::Not:
        return logical(!evalBool(*n.args[0], rec));
    case Node::Kind::Negate:
        return number(-eval(*n.args[0], rec).number);
    case Node::Kind::Binary:
        break;
    }
    switch (n.op) {
    case Node::Op::And:
    case Node::Op::Or:
        return logical(evalBool(n, rec));
    case Node::Op::Contains: {
        ExprValue a = eval(*n.args[0], rec), b = eval(*n.args[1], rec);
        return logical(b.text.find(rtrim(a.text)) != std::string::npos);
    }
    case Node::Op::Add: {
        ExprValue a = eval(*n.args[0], rec), b = eval(*n.args[1], rec);
        if (a.type == Type::Text)
            return text(a.text + b.text);
        return number(a.number + b.number);
    }
    case Node::Op::Sub:
        return number(eval(*n.args[0], rec).number - eval(*n.args[1], rec).number);
    case Node::Op::Mul:
        return number(eval(*n.args[0], rec).number * eval(*n.args[1], rec).number);
    case Node::Op::Div: {
        double d = eval(*n.args[1], rec).number;
        if (d == 0)
            throw StoreError(QStringLiteral("Division by zero in an expression."));
        return number(eval(*n.args[0], rec).number / d);
    }
    default: {
        ExprValue a = eval(*n.args[0], rec), b = eval(*n.args[1], rec);
        return logical(compareResult(n.op, compareValues(a, b)));
    }
    }
}

void collectFields(const Node& n, std::vector<std::string>& out) {
    if (n.kind == Node::Kind::Field && std::find(out.begin(), out.end(), n.field.name) == out.end())
        out.push_back(n.field.name);
    for (const auto& a : n.args)
        collectFields(*a, out);
}

} // namespace

Expression::Expression(const QString& text, const std::vector<DbfField>& fields) : m_text(text) {
    if (text.trimmed().isEmpty())
        throw StoreError(QStringLiteral("Invalid expression: it is empty."));
    m_root = Parser(text, fields).parseAll();
}

Expression::~Expression() = default;
Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;

ExprValue::Type Expression::type() const {
    return m_root->type;
}
int Expression::width() const {
    return m_root->width;
}

ExprValue Expression::evaluate(const char* record) const {
    return eval(*m_root, record);
}

bool Expression::test(const char* record) const {
    if (m_root->type != Type::Logical)
        throw StoreError(QStringLiteral("The expression \"%1\" is not a condition.").arg(m_text));
    return evalBool(*m_root, record);
}

std::vector<std::string> Expression::fieldNames() const {
    std::vector<std::string> out;
    collectFields(*m_root, out);
    return out;
}

} // namespace qn
