#pragma once

#include "table.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QStringList>
#include <QTableView>
#include <vector>

namespace qn {

/// The visible rows of a table in its current order, with the given fields as columns. It
/// follows the table: opened, closed, refiltered, posted, deleted, or a master that moved.
class TableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    /// An empty column list shows every field of the table.
    TableModel(Table* table, QStringList columns, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    /// Stores an edited cell into its row at once; a value the field refuses raises Error and
    /// leaves the row as it was.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    void setEditable(bool on) { m_editable = on; }
    /// Column titles in place of the field names (empty entries keep the field name).
    void setTitles(const QStringList& titles) { m_titles = titles; }

    Table* table() const { return m_table; }
    QStringList columns() const { return m_shownColumns; }
    /// The row of the table's current record, or -1.
    int currentRow() const;
    /// Makes the record shown in this row the table's current one.
    void moveTableTo(int row);
    uint32_t recNoAt(int row) const { return m_rows[size_t(row)].recno; }

signals:
    void currentRowChanged(int row);

private:
    struct Row {
        uint32_t recno;
        QStringList values;
    };
    void reload();
    void followRow();

    QPointer<Table> m_table;
    QStringList m_columns;
    QStringList m_shownColumns;
    std::vector<Row> m_rows;
    QStringList m_titles;
    bool m_busy = false;
    bool m_editable = false;
};

/// A grid over a table: its current row is the table's current row.
class DBGrid : public QTableView {
    Q_OBJECT
public:
    explicit DBGrid(QWidget* parent = nullptr);
    void bind(Table* table, const QStringList& columns = {});
    TableModel* tableModel() const { return m_model; }
    /// Lets cells be changed in place (the model stores them).
    void setEditable(bool on);

private:
    void selectCurrent();
    TableModel* m_model = nullptr;
    bool m_syncing = false;
};

} // namespace qn
