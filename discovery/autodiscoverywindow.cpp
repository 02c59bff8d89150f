#include "autodiscoverywindow.h"

#include "appstate.h"
#include "messageservice.h"
#include "shell.h"
#include "ui_autodiscoverywindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

namespace qn {

using discovery::AutoFind;

AutoDiscoveryWindow::AutoDiscoveryWindow(AppState& state, DataModule& dm, Shell& mainWindow,
                                         std::unique_ptr<discovery::ProcessRunner> runner,
                                         std::unique_ptr<discovery::NameService> names,
                                         QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::AutoDiscoveryWindow>()), m_main(mainWindow),
      m_listing(std::make_unique<discovery::ListingRunner>(state.WorkingFolder, std::move(runner))),
      m_resolver(std::make_unique<discovery::Resolver>(std::move(names))),
      m_known(std::make_unique<discovery::InventoryNames>(dm)),
      m_find(std::make_unique<AutoFind>(*m_listing, *m_resolver, *m_known)) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(254, 176); // the progress as drawn, and a row for Cancel
    setWindowModality(Qt::ApplicationModal);

    QFont small = m_ui->Label1->font();
    small.setPixelSize(13);
    m_ui->Label1->setFont(small);
    m_ui->Label3->setFont(small);
    QFont big = small;
    big.setPixelSize(16);
    big.setBold(true);
    m_ui->Label2->setFont(big);
    m_ui->Label4->setFont(big);
    m_ui->ProgressBar1->setRange(0, 0);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    connect(m_ui->CancelButton, &QPushButton::clicked, this, [this] {
        m_cancelled = true;
        m_find->cancel();
    });
    connect(m_find.get(), &AutoFind::listingRead, this, &AutoDiscoveryWindow::listingRead);
    connect(m_find.get(), &AutoFind::nameStarted, this, &AutoDiscoveryWindow::nameStarted);
    connect(m_find.get(), &AutoFind::resolving, this, &AutoDiscoveryWindow::resolving);
    connect(m_find.get(), &AutoFind::resolved, this, &AutoDiscoveryWindow::resolved);
    connect(m_find.get(), &AutoFind::unresolved, this, &AutoDiscoveryWindow::unresolved);
    connect(m_find.get(), &AutoFind::finished, this, &AutoDiscoveryWindow::finished);
    connect(m_find.get(), &AutoFind::failed, this, &AutoDiscoveryWindow::failed);
}

AutoDiscoveryWindow::~AutoDiscoveryWindow() = default;

void AutoDiscoveryWindow::Find3Click() {
    if (m_find->isRunning()) {
        if (isVisible()) {
            raise();
            activateWindow();
        }
        return;
    }
    if (!m_find->start())
        return;
    emit listsChanged();
    // The window comes at once, with a moving bar while the listing batch runs.
    m_cancelled = false;
    m_listingRead = false;
    m_count = 0;
    m_ui->ProgressBar1->setRange(0, 0);
    m_ui->Label2->setText(QStringLiteral("Reading the network's list..."));
    m_ui->Label4->clear();
    m_ui->Label5->clear();
    m_ui->CountLabel->clear();
    show();
}

void AutoDiscoveryWindow::listingRead(int count) {
    m_listingRead = true;
    m_count = count;
    m_ui->ProgressBar1->setRange(0, count);
    m_ui->ProgressBar1->setValue(0);
    m_ui->Label6->setText(QStringLiteral("1"));
    m_ui->Label5->setText(QString::number(count));
    m_ui->Label2->clear();
    m_ui->Label4->clear();
    show();
}

void AutoDiscoveryWindow::nameStarted(int position, const QString&) {
    m_ui->CountLabel->setText(QStringLiteral("%1 of %2").arg(position).arg(m_count));
    m_ui->Label2->setText(QStringLiteral("Searching..."));
    m_ui->ProgressBar1->setValue(position);
}

void AutoDiscoveryWindow::resolving(const QString& name) {
    m_ui->Label4->clear();
    m_ui->Label2->setText(name);
}

void AutoDiscoveryWindow::resolved(const QString&, const QString& address) {
    m_ui->Label4->setText(address);
    emit listsChanged();
}

void AutoDiscoveryWindow::unresolved(const QString&) {
    m_ui->Label4->setText(QStringLiteral("TCP/IP not installed"));
}

void AutoDiscoveryWindow::finished(bool foundNew) {
    endRun();
    // View New also compares the recorded computers with the listing, new ones or not.
    if (foundNew || m_listingRead)
        m_main.setViewNewEnabled(true);
    if (foundNew) {
        MessageService::information(m_main.shellWidget(), QStringLiteral("Found New Computers"));
    } else {
        MessageService::information(m_main.shellWidget(),
                                    m_cancelled
                                        ? QStringLiteral("Auto-Find was cancelled before it found "
                                                         "a new computer.")
                                        : QStringLiteral("No new computers were found."));
    }
}

void AutoDiscoveryWindow::failed(const QString& message) {
    // The run has no handler left to throw from: report as the application would.
    endRun();
    MessageService::error(m_main.shellWidget(), message);
}

void AutoDiscoveryWindow::endRun() {
    hide();
    m_main.bringForward();
}

void AutoDiscoveryWindow::closeEvent(QCloseEvent* event) {
    // No close box: the window goes when its run ends.
    if (m_find->isRunning())
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void AutoDiscoveryWindow::reject() {
    // Escape does not end a run: only Cancel does, which says what it did.
    if (!m_find->isRunning())
        hide();
}

} // namespace qn
