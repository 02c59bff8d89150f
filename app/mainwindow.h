#pragma once

#include "shell.h"

#include <QMainWindow>
#include <functional>
#include <memory>

class QLabel;

namespace Ui {
class MainWindow;
}

namespace qn {

class AdminPanel;
class Engine;
class PasswordWindow;
class AboutBox;
struct AppState;

/// The main window: title picture and the menu from which every task starts.
class MainWindow : public QMainWindow, public Shell {
    Q_OBJECT
public:
    /// What the menu runs in windows that live above this layer; set once at start.
    struct Tasks {
        std::function<void()> createSystem; // Systems > New > Create
        std::function<void()> autoFind;     // Systems > New > Auto-Find
        std::function<void()> autoFindScan; // Systems > New > Auto-Find from nmap...
        std::function<void()> viewNew;      // Systems > New > View New
        std::function<void()> findSystem;   // Systems > Find
        std::function<void()> createHosts;  // Hosts File > Create
        std::function<void()> viewHosts;    // Hosts File > View
        std::function<void()> exportCsv;    // CSV > Export...
        std::function<void()> importCsv;    // CSV > Import...
        std::function<void()> resources;    // Resources
    };

    MainWindow(AppState& state, Engine& engine, QWidget* parent = nullptr);
    ~MainWindow() override;

    void setWindows(AdminPanel* admin, PasswordWindow* password, AboutBox* about);
    void setTasks(Tasks tasks) { m_tasks = std::move(tasks); }

    void enableSetupMenus() override;
    void setViewNewEnabled(bool on) override;
    void showShell() override { show(); }
    void bringForward() override {
        activateWindow();
        setFocus();
    }
    QWidget* shellWidget() override { return this; }
    bool setupMenusEnabled() const;

    Ui::MainWindow& ui() { return *m_ui; }

public slots:
    /// Reads the settings and sets up the database folder; runs once, right after creation.
    void FormCreate();
    void FormActivate();
    void FormKeyPress(QChar key);

    void Quit1Click();
    void Find1Click();
    void Find3Click();
    void FindScan1Click();
    void ViewNew1Click();
    void Find2Click();
    void Create1Click();
    void View1Click();
    void CsvExport1Click();
    void CsvImport1Click();
    void Resources1Click();
    void Admin1Click();
    void SetupCompanyInfo1Click();
    void SetupDatabaseInfo1Click();
    void ResetPassword1Click();
    void About1Click();
    /// F1: the keys of the menu's actions.
    void Keys1Click();

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void openAdminPage(int page);
    /// The status bar: the database folder and how many systems it holds.
    void showStatus();
    /// The title picture and the texts over it, in colours that suit the desktop's theme.
    void paintTitle();
    static void run(const std::function<void()>& task);

    std::unique_ptr<Ui::MainWindow> m_ui;
    AppState& m_state;
    Engine& m_engine;
    AdminPanel* m_admin = nullptr;
    PasswordWindow* m_password = nullptr;
    AboutBox* m_about = nullptr;
    Tasks m_tasks;
    QLabel* m_folderLabel = nullptr;
    QLabel* m_countLabel = nullptr;
};

} // namespace qn
