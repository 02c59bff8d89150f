#pragma once

#include "table.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QTableView>
#include <vector>

namespace qn {

/// The visible rows of a table in its current order, with the given fields as columns. It
/// follows the table: opened, closed, refiltered, posted, deleted, or a master that moved.
/// Rows are fetched a batch at a time as the view scrolls (the view asks through
/// canFetchMore), and a row's values are read when it is shown. While deferred (its grid is
/// hidden) a change only marks the model stale; it loads once when no longer deferred.
/// Sorted by a column or narrowed by a filter text, it holds every row's place at once (one
/// pass over the table for a sort key each, not the rows' values) and still reads values only
/// when shown; the table closing brings back its own order and drops the filter.
class TableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    /// An empty column list shows every field of the table.
    TableModel(Table* table, QStringList columns, QObject* parent = nullptr, bool deferred = false);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    /// Stores an edited cell into its row at once; a value the field refuses raises Error and
    /// leaves the row as it was.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    bool canFetchMore(const QModelIndex& parent) const override;
    /// Column -1 brings back the table's own order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return m_sortColumn; }
    /// The columns whose texts, joined by dots, make a column's sort key, compared with letter
    /// case ignored and numbers by value (an address of four
    /// octet columns sorts by all four); by default the column alone.
    void setSortColumns(int column, const QList<int>& columns) { m_sortBy[column] = columns; }
    /// Shows only the rows that hold text in any column, or in columns sorted together joined
    /// by dots (letter case ignored); empty shows all.
    void setFilterText(const QString& text);
    QString filterText() const { return m_filterText; }
    /// The table's own order and every row again.
    void resetOrder();
    /// The rows' texts, a line per row and a tab between columns.
    QString copyText(QList<int> rows) const;
    void fetchMore(const QModelIndex& parent) override;

    void setEditable(bool on) { m_editable = on; }
    /// Column titles in place of the field names (empty entries keep the field name).
    void setTitles(const QStringList& titles) { m_titles = titles; }
    void setDeferred(bool on);
    bool deferred() const { return m_deferred; }

    Table* table() const { return m_table; }
    QStringList columns() const { return m_shownColumns; }
    /// The row of the table's current record, or -1.
    int currentRow() const;
    /// Makes the record shown in this row the table's current one.
    void moveTableTo(int row);
    uint32_t recNoAt(int row) const { return m_rows[size_t(row)].recno; }

    /// Rows fetched in one go: a screenful and a margin.
    static constexpr int kBatch = 64;
    /// Times any model rebuilt its rows from the table (benchmarks and counting tests).
    static quint64& reloads();

signals:
    void currentRowChanged(int row);

private:
    void reload(bool narrowing = false);
    void clear();
    void dropRows();
    void tableChanged();
    bool fetch(int count);
    void followRow();
    QStringList values(int row) const;
    bool ordered() const { return m_sortColumn >= 0 || !m_filterText.isEmpty(); }
    void loadOrdered(std::vector<Table::Bookmark>* narrowFrom);
    bool matches(const QStringList& texts) const;

    QPointer<Table> m_table;
    QStringList m_columns;
    QStringList m_shownColumns;
    std::vector<int> m_fields;
    std::vector<Table::Bookmark> m_rows;
    QHash<uint32_t, int> m_rowOf; // recno -> row
    mutable QHash<uint32_t, QStringList> m_values;
    QStringList m_titles;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QHash<int, QList<int>> m_sortBy;
    QString m_filterText;
    bool m_complete = true; // every row is fetched
    bool m_busy = false;
    bool m_fetching = false;
    bool m_editable = false;
    bool m_deferred = false;
    bool m_stale = false;   // changed while deferred
    bool m_pending = false; // changed while the table was editing
};

/// A grid over a table: its current row is the table's current row. It reads nothing while
/// hidden, and keeps its scroll position when the rows change. A click on a column's header
/// sorts by it, a second reverses, a third brings back the table's order.
class DBGrid : public QTableView {
    Q_OBJECT
public:
    explicit DBGrid(QWidget* parent = nullptr);
    void bind(Table* table, const QStringList& columns = {});
    TableModel* tableModel() const { return m_model; }
    /// Lets cells be changed in place (the model stores them).
    void setEditable(bool on);

    /// Back to the table's own order, unfiltered, the header showing no sort.
    void resetOrder();
    /// Puts the selected rows on the clipboard as tab-separated text (Ctrl+C, or "Copy" in the
    /// context menu).
    void copySelection();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void selectCurrent();
    TableModel* m_model = nullptr;
    bool m_syncing = false;
    int m_scroll = 0;
};

} // namespace qn
