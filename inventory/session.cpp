#include "session.h"

#include "datamodule.h"
#include "table.h"

namespace qn {

TableSession::TableSession(DataModule& dm, Table* shared, OpenClose openClose, const QString& index,
                           Mode mode, const QString& filter)
    : m_dm(&dm), m_openClose(openClose), m_table(shared) {
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
        (dm.*m_openClose)(index, filter, !filter.isEmpty(), true);
    }
}

TableSession::TableSession(Table& detail, const QString& index, const QString& relinkFields)
    : m_table(&detail), m_relink(relinkFields) {
    try {
        detail.setMasterFields(QString());
        detail.setFilter(QString());
        detail.setFiltered(false);
        detail.setIndexName(index);
        detail.open();
    } catch (...) {
        relink();
        throw;
    }
}

void TableSession::relink() {
    m_table->close();
    m_table->setIndexName(QString());
    m_table->setFilter(QString());
    m_table->setFiltered(false);
    m_table->setMasterFields(m_relink);
}

TableSession::~TableSession() {
    if (!m_dm)
        relink();
    else if (!m_own)
        (m_dm->*m_openClose)(QString(), QString(), false, false);
}

} // namespace qn
