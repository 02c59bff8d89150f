#pragma once

#include <memory>

namespace qn {

class AboutBox;
class AddSystemWindow;
class AutoDiscoveryWindow;
class CrafForm;
class CsvWindow;
class ResourcesWindow;
class NewComputersWindow;
class IPViewWindow;
class SearchWindow;
class ItemEntryWindow;
class SystemInfoWindow;
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
    SearchWindow& TForm2() { return *m_search; }
    IPViewWindow& TForm5() { return *m_ipView; }
    ItemEntryWindow& TForm8() { return *m_hardwareForm; }
    ItemEntryWindow& TForm9() { return *m_softwareForm; }
    SystemInfoWindow& TForm10() { return *m_systemInfo; }
    DataModule& TDataModule11() { return *m_data; }
    CrafForm& TForm14() { return *m_craf; }
    AddSystemWindow& TForm18() { return *m_addSystem; }
    AutoDiscoveryWindow& TForm1() { return *m_autoDiscovery; }
    NewComputersWindow& TForm3() { return *m_newComputers; }
    ResourcesWindow& TForm4() { return *m_resources; }
    AdminWindow& TForm16() { return *m_admin; }
    PasswordWindow& TForm17() { return *m_password; }
    AboutBox& TAboutForm() { return *m_about; }
    CsvWindow& csvWindow() { return *m_csv; }

private:
    Engine& m_engine;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<MainWindow> m_main;
    std::unique_ptr<DataModule> m_data;
    std::unique_ptr<SearchWindow> m_search;
    std::unique_ptr<IPViewWindow> m_ipView;
    std::unique_ptr<ItemEntryWindow> m_hardwareForm;
    std::unique_ptr<ItemEntryWindow> m_softwareForm;
    std::unique_ptr<SystemInfoWindow> m_systemInfo;
    std::unique_ptr<CrafForm> m_craf;
    std::unique_ptr<AdminWindow> m_admin;
    std::unique_ptr<PasswordWindow> m_password;
    std::unique_ptr<AddSystemWindow> m_addSystem;
    std::unique_ptr<AutoDiscoveryWindow> m_autoDiscovery;
    std::unique_ptr<NewComputersWindow> m_newComputers;
    std::unique_ptr<ResourcesWindow> m_resources;
    std::unique_ptr<AboutBox> m_about;
    std::unique_ptr<CsvWindow> m_csv;
};

} // namespace qn
