#include "tablelock.h"

#include "error.h"
#include "table.h"
#include "tablefile.h"

#include <utility>

namespace qn {

TableLock::TableLock(TableFile& file) : m_file(&file) {
    file.lockTable();
}

TableLock::TableLock(Table& table) : m_file(table.file()) {
    if (!m_file)
        throw StoreError(
            QStringLiteral("Cannot lock the table %1: it is not open.").arg(table.tableName()));
    m_file->lockTable();
}

TableLock::~TableLock() {
    release();
}

TableLock::TableLock(TableLock&& other) noexcept : m_file(other.m_file) {
    other.m_file = nullptr;
}

void TableLock::release() {
    if (m_file)
        m_file->unlockTable();
    m_file = nullptr;
}

TableGroup::TableGroup(Table& table) : m_file(table.sharedFile()) {
    if (!m_file)
        throw StoreError(
            QStringLiteral("Cannot lock the table %1: it is not open.").arg(table.tableName()));
    m_file->beginGroup();
}

TableGroup::~TableGroup() {
    if (!m_file)
        return;
    m_file->abandonGroup();
    try {
        emit m_file->changed(); // rows shown from the group are gone
    } catch (
        ...) { // NOLINT(bugprone-empty-catch): a destructor; the views catch up on their next step
    }
}

void TableGroup::commit() {
    auto file = std::exchange(m_file, nullptr);
    if (file)
        file->commitGroup();
}

} // namespace qn
