#include "tablemodel.h"

#include "guard.h"
#include "search.h"
#include "table.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <algorithm>
#include <limits>

namespace qn {
namespace {

// Moving the table would post a row being edited or inserted; the model catches up when the
// table is back to browsing.
bool editing(const Table* t) {
    return t && (t->state() == Table::State::Edit || t->state() == Table::State::Insert ||
                 t->state() == Table::State::SetKey);
}

struct Flag {
    bool& flag;
    explicit Flag(bool& f) : flag(f) { flag = true; }
    ~Flag() { flag = false; }
};

// Values cached for shown rows; dropped wholesale past this, the view asks again.
constexpr int kMaxCachedRows = 4096;

} // namespace

TableModel::TableModel(Table* table, QStringList columns, QObject* parent, bool deferred)
    : QAbstractTableModel(parent), m_table(table), m_columns(std::move(columns)),
      m_deferred(deferred), m_stale(deferred) {
    connect(table, &Table::dataChanged, this, &TableModel::tableChanged);
    connect(table, &Table::stateChanged, this, [this](Table::State s) {
        if (s == Table::State::Inactive) {
            // Opened again, the table shows its own order and every row.
            m_sortColumn = -1;
            m_filterText.clear();
        }
        if (s == Table::State::Inactive || (s == Table::State::Browse && m_pending))
            tableChanged();
    });
    connect(table, &Table::rowChanged, this, &TableModel::followRow);
    if (!deferred)
        reload();
}

quint64& TableModel::reloads() {
    static quint64 n = 0;
    return n;
}

int TableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_shownColumns.size());
}

QStringList TableModel::values(int row) const {
    const uint32_t recno = m_rows[size_t(row)].recno;
    auto it = m_values.constFind(recno);
    if (it != m_values.constEnd())
        return *it;
    if (!m_table || !m_table->isActive())
        return {};
    QStringList v;
    try {
        v = m_table->storedTexts(recno, m_fields);
    } catch (const std::exception&) {
        // Asked while painting, inside Qt: the cell stays blank; the next change reloads.
        return {};
    }
    if (m_values.size() >= kMaxCachedRows)
        m_values.clear();
    m_values.insert(recno, v);
    return v;
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(m_rows.size()) ||
        index.column() >= m_shownColumns.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return values(index.row()).value(index.column());
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
    if (text == values(index.row()).value(index.column()))
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

bool TableModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !m_complete && !m_deferred && !m_fetching && m_table &&
           m_table->isActive();
}

void TableModel::fetchMore(const QModelIndex& parent) {
    if (!parent.isValid())
        runHandler([this] { fetch(kBatch); });
}

void TableModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 && m_sortColumn < 0)
        return;
    m_sortColumn = std::max(-1, column);
    m_sortOrder = order;
    tableChanged();
}

void TableModel::resetOrder() {
    if (!ordered())
        return;
    m_sortColumn = -1;
    m_filterText.clear();
    tableChanged();
}

void TableModel::setFilterText(const QString& text) {
    if (text == m_filterText)
        return;
    // A longer text keeps a subset of the rows held, in their order: only those are read.
    const bool narrowing = ordered() && m_complete && !m_stale && !m_pending && !m_deferred &&
                           !editing(m_table) && text.contains(m_filterText, Qt::CaseInsensitive);
    m_filterText = text;
    if (narrowing)
        reload(true);
    else
        tableChanged();
    // Open and delete act on the table's current row: keep it one of the rows shown.
    if (currentRow() < 0 && !m_rows.empty() && !m_deferred && !editing(m_table)) {
        moveTableTo(0);
        emit currentRowChanged(currentRow());
    }
}

bool TableModel::matches(const QStringList& texts) const {
    for (const QString& t : texts)
        if (t.contains(m_filterText, Qt::CaseInsensitive))
            return true;
    // Columns sorted together are one value too: a typed address is found in its octets.
    for (const QList<int>& columns : m_sortBy) {
        QStringList parts;
        for (int c : columns)
            parts << texts.value(c);
        if (parts.join(u'.').contains(m_filterText, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString TableModel::copyText(QList<int> rows) const {
    std::sort(rows.begin(), rows.end());
    QString out;
    for (int row : rows) {
        if (row < 0 || row >= int(m_rows.size()))
            continue;
        out += values(row).join(u'\t');
        out += u'\n';
    }
    return out;
}

void TableModel::setDeferred(bool on) {
    m_deferred = on;
    if (on)
        return;
    if (m_stale) {
        m_stale = false;
        reload();
    } else {
        followRow(); // the table may have moved meanwhile
    }
}

int TableModel::currentRow() const {
    if (!m_table || !m_table->isActive() || m_table->recNo() == 0)
        return -1;
    return m_rowOf.value(m_table->recNo(), -1);
}

void TableModel::tableChanged() {
    if (m_busy)
        return;
    if (m_deferred) {
        m_stale = true;
        clear(); // reads nothing; the rows come back when the grid is shown
        return;
    }
    if (editing(m_table)) {
        m_pending = true;
        return;
    }
    reload();
}

void TableModel::clear() {
    if (m_rows.empty() && m_shownColumns.isEmpty())
        return;
    beginResetModel();
    dropRows();
    endResetModel();
}

// Forgets every row and column held; the caller brackets it in a model reset.
void TableModel::dropRows() {
    m_rows.clear();
    m_rowOf.clear();
    m_values.clear();
    m_shownColumns.clear();
    m_fields.clear();
    m_complete = true;
}

// Fetches the rows that follow the last one held; false when there were none.
bool TableModel::fetch(int count) {
    // A view may ask for more while it hears of the rows being inserted.
    if (m_fetching || m_complete || !m_table || !m_table->isActive())
        return false;
    Flag fetching(m_fetching);
    std::vector<Table::Bookmark> more =
        m_table->rowsAfter(m_rows.empty() ? nullptr : &m_rows.back(), count);
    if (int(more.size()) < count)
        m_complete = true;
    if (more.empty())
        return false;
    const int first = int(m_rows.size());
    if (!m_busy)
        beginInsertRows({}, first, first + int(more.size()) - 1);
    for (Table::Bookmark& b : more) {
        m_rowOf.insert(b.recno, int(m_rows.size()));
        m_rows.push_back(std::move(b));
    }
    if (!m_busy)
        endInsertRows();
    return true;
}

void TableModel::reload(bool narrowing) {
    if (m_busy)
        return;
    Flag busy(m_busy);
    m_pending = false;
    // As many rows as were held, so that the view keeps its place.
    const int keep = std::max(kBatch, int(m_rows.size()));
    std::vector<Table::Bookmark> held;
    if (narrowing)
        held.swap(m_rows);
    beginResetModel();
    dropRows();
    struct End {
        TableModel* m;
        ~End() { m->endResetModel(); }
    } end{this};
    if (!m_table || !m_table->isActive())
        return;
    ++reloads();
    m_shownColumns = m_columns.isEmpty() ? m_table->fieldNames() : m_columns;
    for (const QString& c : m_shownColumns)
        m_fields.push_back(m_table->fieldIndex(c));
    if (ordered()) {
        loadOrdered(narrowing ? &held : nullptr);
        return;
    }
    m_complete = false;
    fetch(keep);
    const uint32_t current = m_table->recNo();
    while (current != 0 && !m_complete && !m_rowOf.contains(current))
        fetch(int(m_rows.size()));
}

// Every row's place at once: one pass reading only what the filter and the sort key need.
void TableModel::loadOrdered(std::vector<Table::Bookmark>* narrowFrom) {
    std::vector<Table::Bookmark> all =
        narrowFrom ? std::move(*narrowFrom)
                   : m_table->rowsAfter(nullptr, std::numeric_limits<int>::max());
    const bool filtering = !m_filterText.isEmpty();
    const bool sorting = m_sortColumn >= 0 && m_sortColumn < int(m_fields.size()) && !narrowFrom;
    QList<int> keyColumns;
    if (sorting)
        for (int c : m_sortBy.value(m_sortColumn, {m_sortColumn}))
            if (c >= 0 && c < int(m_fields.size()))
                keyColumns << c;
    std::vector<int> fields; // read per row
    QList<int> keyAt;        // where the key's texts stand among them
    if (filtering) {
        fields = m_fields;
        keyAt = keyColumns;
    } else {
        for (int c : keyColumns) {
            keyAt << int(fields.size());
            fields.push_back(m_fields[size_t(c)]);
        }
    }
    std::vector<uint32_t> kept;
    std::vector<std::pair<std::string, uint32_t>> keys;
    for (uint32_t i = 0; i < all.size() && (filtering || sorting); ++i) {
        const QStringList texts = m_table->storedTexts(all[i].recno, fields);
        if (filtering && !matches(texts))
            continue;
        if (!sorting) {
            kept.push_back(i);
            continue;
        }
        QString joined;
        for (qsizetype k = 0; k < keyAt.size(); ++k)
            joined += (k ? QStringLiteral(".") : QString()) + texts.value(keyAt[k]);
        keys.emplace_back(search::numericKey(joined), i);
    }
    if (sorting) {
        // Stable both ways: equal keys stay in the table's order.
        if (m_sortOrder == Qt::AscendingOrder)
            std::stable_sort(keys.begin(), keys.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        else
            std::stable_sort(keys.begin(), keys.end(),
                             [](const auto& a, const auto& b) { return b.first < a.first; });
        kept.reserve(keys.size());
        for (const auto& k : keys)
            kept.push_back(k.second);
    }
    if (!filtering && !sorting) {
        kept.resize(all.size());
        for (uint32_t i = 0; i < all.size(); ++i)
            kept[i] = i;
    }
    m_rows.reserve(kept.size());
    m_rowOf.reserve(qsizetype(kept.size()));
    for (uint32_t i : kept) {
        m_rowOf.insert(all[i].recno, int(m_rows.size()));
        m_rows.push_back(std::move(all[i]));
    }
    m_complete = true;
}

void TableModel::followRow() {
    if (m_busy || m_deferred || !m_table || editing(m_table))
        return;
    const uint32_t current = m_table->isActive() ? m_table->recNo() : 0;
    if (current != 0 && !m_rowOf.contains(current)) {
        // Further down than fetched so far, or a row this model has not seen (a master
        // that moved, another list).
        while (!m_complete && !m_rowOf.contains(current))
            fetch(std::max(kBatch, int(m_rows.size())));
        if (!m_rowOf.contains(current))
            reload();
    }
    const int row = currentRow();
    if (row >= 0 && m_values.contains(current)) {
        // The values of the current row may have changed.
        const QStringList before = m_values.take(current);
        if (values(row) != before)
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    }
    emit currentRowChanged(row);
}

void TableModel::moveTableTo(int row) {
    if (!m_table || !m_table->isActive() || row < 0 || row >= int(m_rows.size()) ||
        m_table->recNo() == m_rows[size_t(row)].recno)
        return;
    bool moved;
    {
        Flag busy(m_busy);
        moved = m_table->gotoBookmark(m_rows[size_t(row)]);
    }
    if (!moved)
        reload(); // the row has gone or moved: show the table as it is now
}

DBGrid::DBGrid(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // More than one row only for copying; the current row is the table's.
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    horizontalHeader()->setSortIndicatorClearable(true);
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->hide();
}

void DBGrid::bind(Table* table, const QStringList& columns) {
    delete m_model;
    m_model = new TableModel(table, columns, this, !isVisible());
    setModel(m_model);
    connect(m_model, &TableModel::currentRowChanged, this, &DBGrid::selectCurrent);
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_scroll = verticalScrollBar()->value();
        // A reset moves the view's current cell (an open editor hands its focus on): the
        // table's row is put back once the rows are in.
        m_syncing = true;
    });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        if (m_model->sortColumn() < 0 && horizontalHeader()->sortIndicatorSection() >= 0)
            horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder); // the table closed
        updateGeometries();
        verticalScrollBar()->setValue(m_scroll);
        selectCurrent();
    });
    setSortingEnabled(true);
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

void DBGrid::resetOrder() {
    if (!m_model)
        return;
    {
        const QSignalBlocker quiet(horizontalHeader());
        horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    }
    horizontalHeader()->viewport()->update();
    m_model->resetOrder();
}

void DBGrid::copySelection() {
    if (!m_model)
        return;
    QList<int> rows;
    for (const QModelIndex& i : selectionModel()->selectedRows())
        rows << i.row();
    if (rows.isEmpty() && currentIndex().isValid())
        rows << currentIndex().row();
    if (!rows.isEmpty())
        QGuiApplication::clipboard()->setText(m_model->copyText(rows));
}

void DBGrid::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        runHandler([this] { copySelection(); });
        return;
    }
    QTableView::keyPressEvent(event);
}

void DBGrid::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(QStringLiteral("&Copy"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(m_model && m_model->rowCount() > 0);
    // Acted on once the menu has closed, as every menu of the program.
    if (menu.exec(event->globalPos()) == copy)
        runHandler([this] { copySelection(); });
}

void DBGrid::showEvent(QShowEvent* event) {
    QTableView::showEvent(event);
    if (m_model)
        runHandler([this] { m_model->setDeferred(false); });
}

void DBGrid::hideEvent(QHideEvent* event) {
    QTableView::hideEvent(event);
    if (m_model)
        m_model->setDeferred(true);
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
