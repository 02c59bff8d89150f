#include "program.h"

#include "aboutbox.h"
#include "addsystemwindow.h"
#include "adminwindow.h"
#include "application.h"
#include "appstate.h"
#include "autodiscoverywindow.h"
#include "crafform.h"
#include "csvwindow.h"
#include "datamodule.h"
#include "formlayout.h"
#include "formscale.h"
#include "ipviewwindow.h"
#include "itementrywindow.h"
#include "mainwindow.h"
#include "messageservice.h"
#include "newcomputerswindow.h"
#include "passwordwindow.h"
#include "resourceswindow.h"
#include "searchwindow.h"
#include "systeminfowindow.h"
#include "tablefile.h"

namespace qn {

Program::Program(Engine& engine) : m_engine(engine), m_state(std::make_unique<AppState>()) {
    m_main = std::make_unique<MainWindow>(*m_state, engine);
    // What the store mended on its own (a rebuilt index) is told once the operation that
    // found it is over, never from inside it.
    QObject::connect(
        &StoreNotices::instance(), &StoreNotices::notice, m_main.get(),
        [this] {
            for (const QString& text : StoreNotices::instance().take())
                MessageService::information(m_main.get(), text);
        },
        Qt::QueuedConnection);
    // A failed start-up step is shown and the program opens all the same.
    Application::guarded([this] { m_main->FormCreate(); });
    // The data module comes before the windows that bind their controls to its tables; it
    // opens no table.
    m_data = std::make_unique<DataModule>(engine);
    DataModule& dm = *m_data;
    m_search = std::make_unique<SearchWindow>(dm, m_main.get(), nullptr);
    m_ipView = std::make_unique<IPViewWindow>(*m_state, dm, m_main.get(), nullptr);
    auto shownSystem = [this] { return m_systemInfo->systemId(); };
    m_hardwareForm = std::make_unique<ItemEntryWindow>(ItemEntryWindow::Kind::Hardware, dm,
                                                       shownSystem, nullptr);
    m_softwareForm = std::make_unique<ItemEntryWindow>(ItemEntryWindow::Kind::Software, dm,
                                                       shownSystem, nullptr);
    m_systemInfo = std::make_unique<SystemInfoWindow>(dm, m_main.get());
    m_hardwareForm->setReturnWindow(m_systemInfo.get());
    m_softwareForm->setReturnWindow(m_systemInfo.get());
    m_systemInfo->setEntryForms(m_hardwareForm.get(), m_softwareForm.get());
    m_search->setSystemInfo(m_systemInfo.get());
    m_ipView->setSystemInfo(m_systemInfo.get());
    m_craf = std::make_unique<CrafForm>(*m_state, dm);
    m_systemInfo->setReport([this](const QString& id) { m_craf->SystemInfoCRAF(id); });
    m_craf->setUserNameSearch([this] { return m_search->criterion() == SearchWindow::UserName; });
    m_admin = std::make_unique<AdminWindow>(*m_state, engine, *m_main);
    m_password = std::make_unique<PasswordWindow>(*m_state, m_main.get(), *m_admin);
    m_addSystem = std::make_unique<AddSystemWindow>(*m_state, dm, m_main.get());
    m_addSystem->setReport([this](const QString& id) { m_craf->AddSystemCRAF(id); });
    m_autoDiscovery = std::make_unique<AutoDiscoveryWindow>(*m_state, dm, *m_main);
    m_newComputers = std::make_unique<NewComputersWindow>(*m_state, dm, *m_autoDiscovery);
    m_resources = std::make_unique<ResourcesWindow>(dm, m_main.get());
    m_about = std::make_unique<AboutBox>();
    m_csv = std::make_unique<CsvWindow>(dm, m_main.get());
    m_main->setWindows(m_admin.get(), m_password.get(), m_about.get());
    const double scale = formScale();
    for (QWidget* w : std::initializer_list<QWidget*>{
             m_main.get(), m_search.get(), m_ipView.get(), m_hardwareForm.get(),
             m_softwareForm.get(), m_systemInfo.get(), m_admin.get(), m_password.get(),
             m_addSystem.get(), m_autoDiscovery.get(), m_newComputers.get(), m_resources.get(),
             m_about.get()})
        scaleForm(w, scale);
    // The forms with grids, lists or boxes to fill grow with their windows; the IP view places
    // its own controls, and the small fixed windows (main, search, admin, password, Auto-Find)
    // fit any screen as drawn.
    for (QWidget* w : std::initializer_list<QWidget*>{m_hardwareForm.get(), m_softwareForm.get(),
                                                      m_systemInfo.get(), m_addSystem.get(),
                                                      m_newComputers.get(), m_resources.get()})
        makeResizable(w);
    for (QWidget* w : std::initializer_list<QWidget*>{
             m_main.get(), m_search.get(), m_ipView.get(), m_hardwareForm.get(),
             m_softwareForm.get(), m_systemInfo.get(), m_admin.get(), m_password.get(),
             m_addSystem.get(), m_autoDiscovery.get(), m_newComputers.get(), m_resources.get(),
             m_csv.get()})
        WindowMemory::attach(w);

    MainWindow::Tasks tasks;
    tasks.createSystem = [this] {
        m_addSystem->show();
        m_main->hide();
    };
    tasks.autoFind = [this] { m_autoDiscovery->Find3Click(); };
    tasks.autoFindScan = [this] { m_autoDiscovery->chooseSource(); };
    tasks.viewNew = [this] { m_newComputers->showWindow(); };
    tasks.resources = [this] {
        m_resources->show(); // the main window stays
        m_resources->raise();
        m_resources->activateWindow();
    };
    tasks.findSystem = [this] {
        m_search->show();
        m_main->hide();
    };
    tasks.createHosts = [this] { createHostsFile(*m_state, *m_data, m_main.get()); };
    tasks.viewHosts = [this] {
        m_data->IPTableOpenClose(QStringLiteral("TYPE"), QString(), false, true);
        m_main->hide();
        m_ipView->show();
    };
    tasks.exportCsv = [this] { m_csv->ExportClick(); };
    tasks.importCsv = [this] { m_csv->ImportClick(); };
    m_main->setTasks(std::move(tasks));
}

Program::~Program() = default;

void Program::start() {
    m_main->show();
}

} // namespace qn
