#include "tablemodel.h"

#include "guard.h"
#include "table.h"

#include <QHeaderView>

namespace qn {

TableModel::TableModel(Table* table, QStringList columns, QObject* parent)
    : QAbstractTableModel(parent), m_table(table), m_columns(std::move(columns)) {
    connect(table, &Table::dataChanged, this, &TableModel::reload);
    connect(table, &Table::stateChanged, this, [this](Table::State s) {
        if (s == Table::State::Inactive || s == Table::State::Browse)
            reload();
    });
    connect(table, &Table::rowChanged, this, &TableModel::followRow);
    reload();
}

int TableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_shownColumns.size());
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(m_rows.size()) ||
        index.column() >= m_shownColumns.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return m_rows[size_t(index.row())].values.value(index.column());
    return {};
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= m_shownColumns.size())
            return {};
        const QString title = m_titles.value(section);
        return title.isEmpty() ? m_shownColumns[section] : title;
    }
    return section + 1;
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (m_editable && index.isValid())
        f |= Qt::ItemIsEditable;
    return f;
}

bool TableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!m_editable || role != Qt::EditRole || !index.isValid() || !m_table ||
        !m_table->isActive() || index.row() >= int(m_rows.size()))
        return false;
    const QString text = value.toString();
    if (text == m_rows[size_t(index.row())].values.value(index.column()))
        return false;
    // Called by the view's editor, inside Qt: a refusal is shown here and the cell stays.
    bool stored = false;
    runHandler([&] {
        moveTableTo(index.row());
        if (m_table->state() == Table::State::Browse)
            m_table->edit();
        try {
            m_table->setFieldText(m_shownColumns[index.column()], text);
            m_table->post();
            stored = true;
        } catch (...) {
            m_table->cancel();
            throw;
        }
    });
    return stored;
}

int TableModel::currentRow() const {
    if (!m_table || !m_table->isActive() || m_table->recNo() == 0)
        return -1;
    const uint32_t r = m_table->recNo();
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].recno == r)
            return int(i);
    return -1;
}

// Walking the rows would post a row being edited or inserted; the model catches up when the
// table is back to browsing.
static bool editing(const Table* t) {
    return t && (t->state() == Table::State::Edit || t->state() == Table::State::Insert ||
                 t->state() == Table::State::SetKey);
}

void TableModel::reload() {
    if (m_busy || editing(m_table))
        return;
    m_busy = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_busy};
    beginResetModel();
    m_rows.clear();
    m_shownColumns.clear();
    if (m_table && m_table->isActive()) {
        m_shownColumns = m_columns.isEmpty() ? m_table->fieldNames() : m_columns;
        // Walk the rows in order, then come back to the row the table was on.
        const uint32_t current = m_table->recNo();
        const bool wasEof = m_table->eof();
        int back = -1;
        for (m_table->first(); !m_table->eof(); m_table->next()) {
            Row row{m_table->recNo(), {}};
            for (const QString& f : m_shownColumns)
                row.values << m_table->fieldText(f);
            if (row.recno == current)
                back = int(m_rows.size());
            m_rows.push_back(std::move(row));
        }
        if (back >= 0 && !wasEof) {
            m_table->first();
            for (int i = 0; i < back; ++i)
                m_table->next();
        } else if (!m_rows.empty()) {
            m_table->first();
        }
    }
    endResetModel();
}

void TableModel::followRow() {
    if (m_busy || !m_table || editing(m_table))
        return;
    int row = currentRow();
    if (row < 0 && m_table->isActive() && m_table->recNo() != 0) {
        reload(); // a row this model has not seen: the master moved, or another list
        row = currentRow();
    } else if (row >= 0) {
        // The values of the current row may have changed.
        QStringList values;
        for (const QString& f : m_shownColumns)
            values << m_table->fieldText(f);
        if (values != m_rows[size_t(row)].values) {
            m_rows[size_t(row)].values = values;
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
        }
    }
    emit currentRowChanged(row);
}

void TableModel::moveTableTo(int row) {
    if (!m_table || !m_table->isActive() || row < 0 || row >= int(m_rows.size()) ||
        m_table->recNo() == m_rows[size_t(row)].recno)
        return;
    m_busy = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_busy};
    const uint32_t target = m_rows[size_t(row)].recno;
    for (m_table->first(); !m_table->eof() && m_table->recNo() != target; m_table->next()) {
    }
}

DBGrid::DBGrid(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->hide();
}

void DBGrid::bind(Table* table, const QStringList& columns) {
    delete m_model;
    m_model = new TableModel(table, columns, this);
    setModel(m_model);
    connect(m_model, &TableModel::currentRowChanged, this, &DBGrid::selectCurrent);
    connect(m_model, &QAbstractItemModel::modelReset, this, &DBGrid::selectCurrent);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!m_syncing && current.isValid())
                    runHandler([&] { m_model->moveTableTo(current.row()); });
            });
    selectCurrent();
}

void DBGrid::setEditable(bool on) {
    if (m_model)
        m_model->setEditable(on);
    // F2 or a double click starts editing; a typed letter only finds a row by it.
    setEditTriggers(on ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                       : QAbstractItemView::NoEditTriggers);
}

void DBGrid::selectCurrent() {
    if (!m_model)
        return;
    m_syncing = true;
    const int row = m_model->currentRow();
    if (row >= 0)
        setCurrentIndex(m_model->index(row, std::max(0, currentIndex().column())));
    else
        selectionModel()->clearCurrentIndex();
    m_syncing = false;
}

} // namespace qn
