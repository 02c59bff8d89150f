#include "newcomputerswindow.h"

#include "appstate.h"
#include "autodiscoverywindow.h"
#include "guard.h"
#include "messageservice.h"
#include "newcomputers.h"
#include "systemrules.h"
#include "ui_newcomputerswindow.h"

#include <QGuiApplication>
#include <QScopeGuard>
#include <QScreen>

namespace qn {

NewComputersWindow::NewComputersWindow(AppState& state, DataModule& dm, AutoDiscoveryWindow& finder,
                                       QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::NewComputersWindow>()), m_state(state), m_dm(dm),
      m_finder(finder) {
    m_ui->setupUi(this);
    // Sizeable, without title-bar buttons.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    resize(348, 210);
    setSizeGripEnabled(true);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    connect(m_ui->AddButton, &QPushButton::clicked, this,
            handler(this, &NewComputersWindow::AddButtonClick));
    connect(m_ui->CancelButton, &QPushButton::clicked, this,
            handler(this, &NewComputersWindow::CancelButtonClick));
    connect(&m_finder, &AutoDiscoveryWindow::listsChanged, this, &NewComputersWindow::refresh);
    refresh();
}

NewComputersWindow::~NewComputersWindow() = default;

void NewComputersWindow::showWindow() {
    refresh();
    show();
    raise();
    activateWindow();
}

void NewComputersWindow::refresh() {
    const discovery::NewComputers& list = m_finder.newComputers();
    m_ui->NameList->clear();
    m_ui->NameList->addItems(list.names);
    m_ui->IPlist->clear();
    m_ui->IPlist->addItems(list.addresses);
}

void NewComputersWindow::AddButtonClick() {
    if (m_finder.isRunning()) {
        MessageService::information(
            this, QStringLiteral("Auto-Find is still running. Add the new computers when it has "
                                 "finished."));
        return;
    }
    const QString prefix = m_state.settings.SysIdPrefix;
    // Entries recorded before an error stay recorded and the lists stay as they were; the
    // error ends this handler.
    const auto refreshAfter = qScopeGuard([this] { refresh(); });
    // Each ID is allocated and its rows written under the systems table's lock.
    discovery::addNewComputers(m_dm, m_finder.newComputers(),
                               [&](const discovery::WriteRows& write) {
                                   return systemrules::recordSystem(m_dm, prefix, QString(), write);
                               });
    hide();
}

void NewComputersWindow::CancelButtonClick() {
    hide();
}

void NewComputersWindow::reject() {
    CancelButtonClick();
}

} // namespace qn
