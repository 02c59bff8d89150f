#include "schema.h"

#include "error.h"
#include "expression.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qn::schema {
namespace {

FieldDef c(const char* name, int width) { return {name, 'C', width, 0}; }

TagSpec tag(const char* name, const char* expression, bool unique = false) {
    TagSpec t;
    t.name = name;
    t.expression = expression;
    t.unique = unique;
    return t;
}

std::vector<TableSchema> build() {
    // Widths: a System ID holds a prefix of up to seven characters and eight digits; items and
    // pool rows share widths so that an item moves to the pool and back without loss.
    const int sysId = 15;
    std::vector<TableSchema> t;
    t.push_back({"IP",
                 {c("SYSID", sysId), c("COMPUTER", 30), c("IP1", 3), c("IP2", 3), c("IP3", 3),
                  c("IP4", 3), c("IPSTRING", 12), c("ALIAS1", 30), c("ALIAS2", 30), c("ALIAS3", 30),
                  c("ALIAS4", 30), c("TYPE", 4), c("TYPEDESC", 30)},
                 {tag("SYSID", "SYSID"), tag("IP", "IPSTRING"), tag("TYPE", "TYPE"),
                  tag("COMPUTER", "COMPUTER"), tag("ALIAS", "ALIAS1"), tag("ALIAS1", "ALIAS1"),
                  tag("ALIAS2", "ALIAS2"), tag("ALIAS3", "ALIAS3"), tag("ALIAS4", "ALIAS4")}});
    t.push_back({"Resources",
                 {c("MAIN", 8), c("CATEGORY", 20), c("ITEM", 40), c("MDL_LIC", 40), c("SERIAL", 30),
                  c("PART", 30), c("MANUF", 30)},
                 {tag("MAIN", "MAIN"), tag("CATEGORY", "CATEGORY")}});
    t.push_back({"Systems",
                 {c("SYSID", sysId), c("COMPANY", 40), c("USERFIRST", 20), c("USERLAST", 25),
                  c("PHONE", 20), c("PH_EXT", 8), c("LOCATION", 40), c("ROOM", 10),
                  c("SECURITY", 10), FieldDef{"DATE", 'D', 8, 0}},
                 {tag("SYSID", "SYSID"), tag("COMPANY", "COMPANY", true), tag("OFFICE", "ROOM"),
                  tag("USER", "USERFIRST+USERLAST")}});
    t.push_back({"Software",
                 {c("SYSID", sysId), c("DESC", 40), c("MANUF", 30), c("LICENSEKEY", 40),
                  c("SERIALNUM", 30), c("PART", 30), c("CATEGORY", 20)},
                 {tag("SYSID", "SYSID")}});
    t.push_back({"Hardware",
                 {c("SYSID", sysId), c("DESC", 40), c("MANUF", 30), c("MODEL", 40),
                  c("SERIALNUM", 30), c("PART", 30), c("CATEGORY", 20)},
                 {tag("SYSID", "SYSID")}});
    return t;
}

void copyReplacing(const QString& from, const QString& to) {
    QFile::remove(to);
    if (!QFile::copy(from, to))
        throw StoreError(QStringLiteral("Cannot write %1.").arg(to));
}

} // namespace

const std::vector<TableSchema>& tables() {
    static const std::vector<TableSchema> all = build();
    return all;
}

const TableSchema& table(const QString& baseName) {
    for (const TableSchema& t : tables())
        if (t.baseName.compare(baseName, Qt::CaseInsensitive) == 0)
            return t;
    throw StoreError(QStringLiteral("Unknown table %1.").arg(baseName));
}

QStringList extensions() {
    return {QStringLiteral(".dbf"), QStringLiteral(".dbk"), QStringLiteral(".mdx"), QStringLiteral(".mbk")};
}

const TableSchema* find(const QString& baseName) {
    for (const TableSchema& t : tables())
        if (t.baseName.compare(baseName, Qt::CaseInsensitive) == 0)
            return &t;
    return nullptr;
}

std::vector<TagSpec> resolveTags(const std::vector<DbfField>& fields, std::vector<TagSpec> tags,
                                 std::vector<std::string>* indexed) {
    for (TagSpec& t : tags) {
        Expression key(QString::fromStdString(t.expression), fields);
        switch (key.type()) {
        case ExprValue::Type::Number:
            t.keyType = 'N';
            t.keyLength = 12;
            break;
        case ExprValue::Type::Date:
            t.keyType = 'D';
            t.keyLength = 8;
            break;
        case ExprValue::Type::Text:
            t.keyType = 'C';
            t.keyLength = key.width();
            break;
        default:
            throw StoreError(QStringLiteral("Tag %1 has a logical key.").arg(QString::fromStdString(t.name)));
        }
        if (indexed)
            for (const std::string& n : key.fieldNames())
                indexed->push_back(n);
    }
    return tags;
}

void createTableFiles(const QString& dbfPath, const std::vector<FieldDef>& fields,
                      std::vector<TagSpec> tags) {
    std::vector<DbfField> declared;
    int offset = 1;
    for (const FieldDef& f : fields) {
        DbfField d;
        static_cast<FieldDef&>(d) = f;
        d.offset = offset;
        offset += f.length;
        declared.push_back(d);
    }
    std::vector<std::string> indexed;
    tags = resolveTags(declared, std::move(tags), &indexed);
    QFileInfo info(dbfPath);
    DbfFile::create(dbfPath, fields, !tags.empty(), indexed);
    if (!tags.empty())
        MdxFile::create(info.absolutePath() + u'/' + info.completeBaseName() + QStringLiteral(".mdx"),
                        info.completeBaseName().toUpper().toStdString(), tags);
}

void createTable(const QString& folder, const TableSchema& t) {
    QDir dir(folder);
    QString base = dir.filePath(t.baseName);
    createTableFiles(base + ".dbf", t.fields, t.tags);
    copyReplacing(base + ".dbf", base + ".dbk");
    copyReplacing(base + ".mdx", base + ".mbk");
}

void createAll(const QString& folder) {
    if (!QDir().mkpath(folder))
        throw StoreError(QStringLiteral("Cannot create the folder %1.").arg(folder));
    for (const TableSchema& t : tables())
        createTable(folder, t);
}

} // namespace qn::schema
