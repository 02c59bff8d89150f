#include "autodiscoverywindow.h"

#include "appstate.h"
#include "error.h"
#include "formlayout.h"
#include "guard.h"
#include "messageservice.h"
#include "shell.h"
#include "ui_autodiscoverywindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

namespace qn {

using discovery::AutoFind;

namespace {
const char* targetsKey = "AutoFind/NmapTargets";
const char* fileKey = "AutoFind/NmapFile";
} // namespace

AutoDiscoveryWindow::AutoDiscoveryWindow(AppState& state, DataModule& dm, Shell& mainWindow,
                                         std::unique_ptr<discovery::ProcessRunner> runner,
                                         std::unique_ptr<discovery::NameService> names,
                                         std::unique_ptr<discovery::ProcessRunner> scanner,
                                         QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::AutoDiscoveryWindow>()), m_main(mainWindow),
      m_listing(std::make_unique<discovery::ListingRunner>(state.WorkingFolder, std::move(runner))),
      m_nmap(std::make_unique<discovery::NmapSource>(state.WorkingFolder, std::move(scanner))),
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
        if (!m_find->isRunning()) {
            hide(); // the choice of source, before a run
            return;
        }
        m_cancelled = true;
        m_find->cancel();
    });
    connect(m_ui->StartButton, &QPushButton::clicked, this,
            handler(this, &AutoDiscoveryWindow::StartButtonClick));
    connect(m_ui->BrowseButton, &QPushButton::clicked, this,
            handler(this, &AutoDiscoveryWindow::BrowseButtonClick));
    // Typing where a source needs it chooses that source.
    connect(m_ui->TargetsEdit, &QLineEdit::textEdited, m_ui->ScanRadio, &QRadioButton::click);
    connect(m_ui->FileEdit, &QLineEdit::textEdited, m_ui->FileRadio, &QRadioButton::click);
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
    if (showRunInProgress())
        return;
    m_ui->ListingRadio->setChecked(true);
    StartButtonClick();
}

bool AutoDiscoveryWindow::showRunInProgress() {
    if (!m_find->isRunning())
        return false;
    if (isVisible()) {
        raise();
        activateWindow();
    }
    return true;
}

void AutoDiscoveryWindow::chooseSource() {
    if (showRunInProgress())
        return;
    const QSettings memory(WindowMemory::filePath(), QSettings::IniFormat);
    m_ui->TargetsEdit->setText(memory.value(targetsKey).toString());
    m_ui->FileEdit->setText(memory.value(fileKey).toString());
    m_ui->ScanRadio->setChecked(true);
    m_ui->SourcePanel->show();
    m_ui->StartButton->show();
    m_ui->TargetsEdit->setFocus();
    show();
    activateWindow();
}

void AutoDiscoveryWindow::StartButtonClick() {
    if (m_find->isRunning())
        return;
    QSettings memory(WindowMemory::filePath(), QSettings::IniFormat);
    QString reading = QStringLiteral("Reading the network's list...");
    if (m_ui->ScanRadio->isChecked()) {
        m_nmap->setTargets(discovery::NmapSource::targetList(m_ui->TargetsEdit->text()));
        memory.setValue(targetsKey, m_ui->TargetsEdit->text().simplified());
        m_find->setSource(*m_nmap);
        reading = QStringLiteral("Scanning with nmap...");
    } else if (m_ui->FileRadio->isChecked()) {
        const QString path = m_ui->FileEdit->text().trimmed();
        if (path.isEmpty())
            throw Error(QStringLiteral("Type or choose the nmap XML file to read."));
        m_nmap->setFile(path);
        memory.setValue(fileKey, path);
        m_find->setSource(*m_nmap);
        reading = QStringLiteral("Reading the nmap scan...");
    } else {
        m_find->setSource(*m_listing);
    }
    if (!m_find->start())
        return;
    emit listsChanged();
    // The progress comes at once, with a moving bar while the source is read.
    m_ui->SourcePanel->hide();
    m_ui->StartButton->hide();
    m_ui->CancelButton->setFocus();
    m_cancelled = false;
    m_listingRead = false;
    m_count = 0;
    m_ui->ProgressBar1->setRange(0, 0);
    m_ui->Label2->setText(reading);
    m_ui->Label4->clear();
    m_ui->Label5->clear();
    m_ui->CountLabel->clear();
    show();
}

void AutoDiscoveryWindow::BrowseButtonClick() {
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("nmap XML file"), m_ui->FileEdit->text(),
                                     QStringLiteral("nmap XML (*.xml);;All files (*)"));
    if (path.isEmpty())
        return;
    m_ui->FileEdit->setText(path);
    m_ui->FileRadio->setChecked(true);
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

void AutoDiscoveryWindow::resolved(const QString& name, const QString& address) {
    m_ui->Label2->setText(name); // a scan's address comes without a look-up
    m_ui->Label4->setText(address);
    emit listsChanged();
}

void AutoDiscoveryWindow::unresolved(const QString&) {
    m_ui->Label4->setText(QStringLiteral("TCP/IP not installed"));
}

void AutoDiscoveryWindow::finished(bool foundNew) {
    endRun();
    QString text = foundNew      ? QStringLiteral("Found New Computers")
                   : m_cancelled ? QStringLiteral("Auto-Find was cancelled before it found a new "
                                                  "computer.")
                                 : QStringLiteral("No new computers were found.");
    // View New also compares the recorded computers with the listing, new ones or not.
    if (foundNew || m_listingRead)
        m_main.setViewNewEnabled(true);
    if (const QString note = unnamedNote(); !note.isEmpty())
        text += QStringLiteral("\n\n") + note;
    MessageService::information(m_main.shellWidget(), text);
}

QString AutoDiscoveryWindow::unnamedNote() const {
    if (&m_find->source() != m_nmap.get() || m_nmap->unnamed().isEmpty())
        return {};
    const QStringList& hosts = m_nmap->unnamed();
    constexpr int shown = 8;
    QString list = hosts.mid(0, shown).join(QStringLiteral(", "));
    if (hosts.size() > shown)
        list += QStringLiteral(" and %1 more").arg(hosts.size() - shown);
    return (hosts.size() == 1 ? QStringLiteral("1 host answered the scan without a name and "
                                               "cannot be recorded: %1.")
                              : QStringLiteral("%1 hosts answered the scan without a name and "
                                               "cannot be recorded: %2.")
                                    .arg(hosts.size()))
        .arg(list);
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
