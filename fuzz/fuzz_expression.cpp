// Compiles the input as an expression over IP-table-like fields and evaluates it.
#include "expression.h"
#include "fuzzutil.h"

#include <string>
#include <vector>

namespace {

std::vector<qn::DbfField> makeFields() {
    const qn::FieldDef defs[] = {
        {"SYSID", 'C', 15, 0}, {"COMPUTER", 'C', 30, 0}, {"IP1", 'C', 3, 0}, {"COUNT", 'N', 6, 2},
        {"BIG", 'N', 18, 0},   {"DATE", 'D', 8, 0},      {"OK", 'L', 1, 0},  {"TYPE", 'C', 4, 0}};
    std::vector<qn::DbfField> out;
    int offset = 1;
    for (const auto& d : defs) {
        qn::DbfField f;
        static_cast<qn::FieldDef&>(f) = d;
        f.offset = offset;
        offset += d.length;
        out.push_back(f);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<qn::DbfField> fields = makeFields();
    static const std::vector<std::string> records = [] {
        std::vector<std::string> out = {
            "",
            " A0000001       pc-12                         10 12.50-12345678901234567820260229TPC "
            " ",
            " zz\xe9\xff           \x01\x02                          abc******999999999999999999999"
            "19000101?\xfe\xfe\xfe\xfe"};
        for (auto& r : out)
            r.resize(size_t(fields.back().offset + fields.back().length), ' ');
        return out;
    }();
    if (size > 4096)
        return 0;
    QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        qn::Expression expr(text, fields);
        (void)expr.type();
        (void)expr.width();
        (void)expr.fieldNames();
        for (const auto& r : records) {
            try {
                (void)expr.evaluate(r.data());
                if (expr.type() == qn::ExprValue::Type::Logical)
                    (void)expr.test(r.data());
            } catch (const qn::StoreError&) {
            }
        }
    } catch (const qn::StoreError&) {
    }
    return 0;
}
