#include "snapshotswindow.h"

#include "engine.h"
#include "guard.h"
#include "messageservice.h"
#include "ui_snapshotswindow.h"

#include <QHeaderView>

namespace qn {
namespace {

QString when(const snapshots::Snapshot& s) {
    return s.taken.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

SnapshotsWindow::SnapshotsWindow(Engine& engine, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::SnapshotsWindow>()), m_engine(engine) {
    m_ui->setupUi(this);
    m_ui->SnapshotList->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_ui->SnapshotList->header()->setStretchLastSection(false);
    connect(m_ui->RestoreButton, &QPushButton::clicked, this,
            handler(this, &SnapshotsWindow::RestoreButtonClick));
    connect(m_ui->CloseButton, &QPushButton::clicked, this, &QDialog::hide);
    connect(m_ui->SnapshotList, &QTreeWidget::itemSelectionChanged, this, [this] {
        m_ui->RestoreButton->setEnabled(!m_ui->SnapshotList->selectedItems().isEmpty());
    });
}

SnapshotsWindow::~SnapshotsWindow() = default;

void SnapshotsWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    runHandler([this] { FormShow(); });
}

void SnapshotsWindow::FormShow() {
    fill();
}

void SnapshotsWindow::fill() {
    m_ui->SnapshotList->clear();
    m_ui->RestoreButton->setEnabled(false);
    m_shown = snapshots::list(m_engine.aliasPath(QStringLiteral("IP")));
    for (const snapshots::Snapshot& s : m_shown)
        new QTreeWidgetItem(m_ui->SnapshotList, {when(s), s.reason, QString::number(s.systems)});
    for (int c = 0; c < 3; c += 2)
        m_ui->SnapshotList->resizeColumnToContents(c);
}

void SnapshotsWindow::RestoreButtonClick() {
    const int row = m_ui->SnapshotList->indexOfTopLevelItem(m_ui->SnapshotList->currentItem());
    if (row < 0 || row >= m_shown.size())
        return;
    const snapshots::Snapshot chosen = m_shown[row];
    const QString question =
        QStringLiteral("Restore the inventory as it was on %1 (%2, %3 systems)? Every change "
                       "since then is undone for all users; the tables as they are now are "
                       "kept in a snapshot first.")
            .arg(when(chosen), chosen.reason)
            .arg(chosen.systems);
    if (!MessageService::alert(this, question))
        return;
    snapshots::restore(m_engine, chosen.path);
    fill();
    MessageService::information(
        this,
        QStringLiteral("The inventory was restored to the snapshot of %1.").arg(when(chosen)));
}

} // namespace qn
