#include "previewmodel.h"

#include "csvexchange.h"

#include <QBrush>
#include <QPalette>

namespace qn {

void PreviewModel::setPlan(csv::ImportPlan* plan) {
    beginResetModel();
    m_plan = plan;
    endResetModel();
    emit ticksChanged();
}

int PreviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_plan ? 0 : int(m_plan->candidates.size());
}

int PreviewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PreviewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !m_plan)
        return {};
    const csv::Candidate& c = m_plan->candidates[size_t(index.row())];
    if (role == Qt::CheckStateRole && index.column() == Mark)
        return c.ticked ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::ToolTipRole)
        return c.why.isEmpty() ? QVariant() : QVariant(c.why);
    if (role == Qt::ForegroundRole && !c.tickable())
        return QPalette().brush(QPalette::Disabled, QPalette::Text);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Mark:
        return csv::markText(c.mark);
    case SysId:
        return c.sysId;
    case Address:
        return c.rows[1] > 1 ? tr("%1 (+%2)").arg(c.address).arg(c.rows[1] - 1) : c.address;
    case Computer:
        return c.computer;
    case User:
        return c.user;
    case Rows: {
        const int items = c.rows[2] + c.rows[3];
        return tr("%1 system, %2 address, %3")
            .arg(c.rows[0])
            .arg(c.rows[1])
            .arg(items == 1 ? tr("1 item") : tr("%1 items").arg(items));
    }
    case Why:
        return c.why;
    default:
        return {};
    }
}

bool PreviewModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != Mark ||
        !(flags(index) & Qt::ItemIsUserCheckable))
        return false;
    m_plan->candidates[size_t(index.row())].ticked = value.toInt() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit ticksChanged();
    return true;
}

Qt::ItemFlags PreviewModel::flags(const QModelIndex& index) const {
    if (!index.isValid() || !m_plan)
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == Mark && m_plan->candidates[size_t(index.row())].tickable())
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant PreviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Mark:
        return tr("Import / mark");
    case SysId:
        return tr("System ID");
    case Address:
        return tr("Address");
    case Computer:
        return tr("Computer");
    case User:
        return tr("User");
    case Rows:
        return tr("Rows");
    case Why:
        return tr("Why");
    default:
        return {};
    }
}

} // namespace qn
