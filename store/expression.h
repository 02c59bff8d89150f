#pragma once

#include "dbffile.h"

#include <QString>
#include <memory>
#include <string>
#include <vector>

namespace qn {

/// A value of the expression language. Text is held as code page 1252 bytes.
struct ExprValue {
    enum class Type { Text, Number, Logical, Date };
    Type type = Type::Text;
    std::string text;  // Text; Date as YYYYMMDD (blank when empty)
    double number = 0; // Number
    bool logical = false;
};

struct ExprNode;

/// A compiled dBASE expression over the fields of one table: index keys ("USERFIRST+USERLAST",
/// "UPPER(COMPUTER)") and filters ("SysID = 'A0001' and Room <> [12]"). Field names, function
/// names and the words AND, OR, NOT match without regard to case. Immutable once compiled.
class Expression {
public:
    /// Throws StoreError with a readable message when the text is not a valid expression or
    /// names a field the table does not have.
    Expression(const QString& text, const std::vector<DbfField>& fields);
    ~Expression();
    Expression(Expression&&) noexcept;
    Expression& operator=(Expression&&) noexcept;

    const QString& text() const { return m_text; }
    ExprValue::Type type() const;
    /// Width of a text result as a key (the declared widths of the fields it is built from).
    int width() const;

    ExprValue evaluate(const char* record) const;
    /// Evaluates a logical expression; throws if the result is not logical.
    bool test(const char* record) const;
    /// Names (upper case) of the fields the expression reads.
    std::vector<std::string> fieldNames() const;

private:
    QString m_text;
    std::unique_ptr<ExprNode> m_root;
};

} // namespace qn
