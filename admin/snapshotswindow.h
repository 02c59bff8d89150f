#pragma once

#include "snapshots.h"

#include <QDialog>
#include <memory>

namespace Ui {
class SnapshotsWindow;
}

namespace qn {

class Engine;

/// Lists the snapshots of the database folder (when, why, how many systems) and puts the chosen
/// one back after a question. Opened from the Admin window's database page.
class SnapshotsWindow : public QDialog {
    Q_OBJECT
public:
    explicit SnapshotsWindow(Engine& engine, QWidget* parent = nullptr);
    ~SnapshotsWindow() override;

    Ui::SnapshotsWindow& ui() { return *m_ui; }

public slots:
    void FormShow();
    void RestoreButtonClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fill();

    std::unique_ptr<Ui::SnapshotsWindow> m_ui;
    Engine& m_engine;
    QList<snapshots::Snapshot> m_shown;
};

} // namespace qn
