#include "tablelock.h"

#include "error.h"
#include "table.h"
#include "tablefile.h"

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

} // namespace qn
