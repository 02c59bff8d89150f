#pragma once

#include <QAbstractTableModel>

namespace qn {

namespace csv {
struct ImportPlan;
}

/// The import preview: one line per System ID of the files, with its mark and a tick box that
/// only new ones have. Reads the plan as it is painted, so thousands of lines cost nothing
/// until they are seen.
class PreviewModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Mark, SysId, Address, Computer, User, Rows, Why, ColumnCount };

    explicit PreviewModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    /// Shows plan (kept by the caller), or nothing when it is null.
    void setPlan(csv::ImportPlan* plan);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    void ticksChanged();

private:
    csv::ImportPlan* m_plan = nullptr;
};

} // namespace qn
