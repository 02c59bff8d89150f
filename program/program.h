#pragma once

#include <memory>

namespace qn {

class AboutBox;
class AdminWindow;
class DataModule;
class Engine;
class MainWindow;
class PasswordWindow;
struct AppState;

/// Every window of the program, created once in a fixed order and kept for the whole run.
class Program {
public:
    explicit Program(Engine& engine);
    ~Program();

    /// Shows the main window.
    void start();

    AppState& state() { return *m_state; }
    Engine& engine() { return m_engine; }
    MainWindow& TForm6() { return *m_main; }
    DataModule& TDataModule11() { return *m_data; }
    AdminWindow& TForm16() { return *m_admin; }
    PasswordWindow& TForm17() { return *m_password; }
    AboutBox& TAboutForm() { return *m_about; }

private:
    Engine& m_engine;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<MainWindow> m_main;
    std::unique_ptr<DataModule> m_data;
    std::unique_ptr<AdminWindow> m_admin;
    std::unique_ptr<PasswordWindow> m_password;
    std::unique_ptr<AboutBox> m_about;
};

} // namespace qn
