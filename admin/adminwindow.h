#pragma once

#include "adminpanel.h"

#include <QDialog>
#include <memory>

class QGroupBox;

namespace Ui {
class AdminWindow;
}

namespace qn {

class Engine;
class Shell;
class SnapshotsWindow;
struct AppState;

/// Company details, database folder, password and System ID prefix, saved together.
class AdminWindow : public QDialog, public AdminPanel {
    Q_OBJECT
public:
    AdminWindow(AppState& state, Engine& engine, Shell& main, QWidget* parent = nullptr);
    ~AdminWindow() override;

    void fillFromSettings(const SettingsRecord& record, bool withPrefix) override;
    void selectPage(Page page) override;
    QString oldPassword() const override;
    QWidget* widget() override { return this; }

    Ui::AdminWindow& ui() { return *m_ui; }
    SnapshotsWindow& snapshotsWindow() { return *m_snapshots; }

public slots:
    void DatabaseButtonClick();
    void CompanyButtonClick();
    void PrefixButtonClick();
    void PasswordButtonClick();
    void SaveButtonClick();
    void CancelButtonClick();
    void SnapshotsButtonClick();

protected:
    void reject() override;

private:
    void showOnly(QGroupBox* group);

    std::unique_ptr<Ui::AdminWindow> m_ui;
    AppState& m_state;
    Engine& m_engine;
    Shell& m_main;
    SnapshotsWindow* m_snapshots;
};

} // namespace qn
