#include "session.h"

#include "datamodule.h"
#include "table.h"

namespace qn {

TableSession::TableSession(DataModule& dm, Table* shared, OpenClose openClose, const QString& index,
                           Mode mode, const QString& filter)
    : m_dm(dm), m_openClose(openClose), m_table(shared) {
    if (mode == Mode::Borrow && shared->isActive()) {
        m_own = std::make_unique<Table>(dm.engine());
        m_own->setDatabaseName(shared->databaseName());
        m_own->setTableName(shared->tableName());
        m_own->setIndexName(index);
        m_own->setFilter(filter);
        m_own->setFiltered(!filter.isEmpty());
        m_own->open();
        m_table = m_own.get();
    } else {
        (m_dm.*m_openClose)(index, filter, !filter.isEmpty(), true);
    }
}

TableSession::~TableSession() {
    if (!m_own)
        (m_dm.*m_openClose)(QString(), QString(), false, false);
}

} // namespace qn
