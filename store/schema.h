#pragma once

#include "dbffile.h"
#include "mdxfile.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace qn::schema {

/// A table of the inventory: the base name of its files, its fields and its index tags.
struct TableSchema {
    QString baseName; // "IP", "Systems", ...
    std::vector<FieldDef> fields;
    std::vector<TagSpec> tags; // key type and length are filled in from the fields
};

/// The five inventory tables, in the order their files are listed: IP, Resources, Systems,
/// Software, Hardware.
const std::vector<TableSchema>& tables();
const TableSchema& table(const QString& baseName);

/// The inventory table with this base name (any letter case), or nullptr.
const TableSchema* find(const QString& baseName);
/// The tags with key type and length taken from their expressions over these fields. Throws
/// StoreError when an expression does not fit the fields. Names of the fields the keys read go
/// to indexed when it is given.
std::vector<TagSpec> resolveTags(const std::vector<DbfField>& fields, std::vector<TagSpec> tags,
                                 std::vector<std::string>* indexed = nullptr);

/// The four extensions of a table's file set, in copy order.
QStringList extensions();

/// Writes an empty table with its production index into a folder (.dbf, .mdx, and the .dbk and
/// .mbk companions as copies of them). Existing files are replaced. Throws StoreError.
void createTable(const QString& folder, const TableSchema& table);
/// Writes all five empty tables.
void createAll(const QString& folder);

/// Creates a table file with its index from field and tag declarations; the tags' key types and
/// lengths are derived from their expressions.
void createTableFiles(const QString& dbfPath, const std::vector<FieldDef>& fields,
                      std::vector<TagSpec> tags);

} // namespace qn::schema
