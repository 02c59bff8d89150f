#include "mainwindow.h"

#include "aboutbox.h"
#include "adminpanel.h"
#include "appstate.h"
#include "artwork.h"
#include "error.h"
#include "guard.h"
#include "messageservice.h"
#include "passwordwindow.h"
#include "provisioning.h"
#include "statusnotes.h"
#include "table.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

namespace qn {

MainWindow::MainWindow(AppState& state, Engine& engine, QWidget* parent)
    : QMainWindow(parent), m_ui(std::make_unique<Ui::MainWindow>()), m_state(state),
      m_engine(engine) {
    m_ui->setupUi(this);
    // Minimise only: the program ends through File > Quit.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowMinimizeButtonHint);

    paintTitle();
    QFont big = m_ui->Label1->font();
    big.setPixelSize(101);
    m_ui->Label1->setFont(big);
    m_ui->Label2->setFont(big);
    QFont small = m_ui->Label3->font();
    small.setPixelSize(9);
    m_ui->Label3->setFont(small);
    for (QWidget* w : {static_cast<QWidget*>(m_ui->Label1), static_cast<QWidget*>(m_ui->Label2),
                       static_cast<QWidget*>(m_ui->Label3)})
        w->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_ui->Memo1->hide();
    m_ui->Memo2->hide();

    // Keys for the main actions; the captions stay as they are, the menus show the keys.
    const std::pair<QAction*, QKeySequence> keys[] = {
        {m_ui->Create2, QKeySequence(Qt::CTRL | Qt::Key_N)},
        {m_ui->Find3, QKeySequence(Qt::CTRL | Qt::Key_D)},
        {m_ui->FindScan1, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D)},
        {m_ui->Find2, QKeySequence(Qt::CTRL | Qt::Key_F)},
        {m_ui->Create1, QKeySequence(Qt::CTRL | Qt::Key_H)},
        {m_ui->View1, QKeySequence(Qt::CTRL | Qt::Key_I)},
        {m_ui->Resources1, QKeySequence(Qt::CTRL | Qt::Key_R)},
        {m_ui->Quit1, QKeySequence(Qt::CTRL | Qt::Key_Q)},
        {m_ui->Keys1, QKeySequence(Qt::Key_F1)}};
    for (const auto& [action, key] : keys)
        action->setShortcut(key);

    // A fixed window: the picture's client area plus the menu bar and the status bar.
    m_folderLabel = new QLabel(this);
    m_countLabel = new QLabel(this);
    m_folderLabel->setObjectName(QStringLiteral("StatusFolder"));
    m_countLabel->setObjectName(QStringLiteral("StatusCount"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(m_folderLabel, 1);
    statusBar()->addPermanentWidget(m_countLabel);
    m_ui->centralwidget->setFixedSize(401, 187);
    setFixedSize(401,
                 187 + m_ui->MainMenu1->sizeHint().height() + statusBar()->sizeHint().height());
    setFocusPolicy(Qt::StrongFocus);

    connect(m_ui->Quit1, &QAction::triggered, this, handler(this, &MainWindow::Quit1Click));
    connect(m_ui->Create2, &QAction::triggered, this, handler(this, &MainWindow::Find1Click));
    connect(m_ui->Find3, &QAction::triggered, this, handler(this, &MainWindow::Find3Click));
    connect(m_ui->FindScan1, &QAction::triggered, this, handler(this, &MainWindow::FindScan1Click));
    connect(m_ui->ViewNew1, &QAction::triggered, this, handler(this, &MainWindow::ViewNew1Click));
    connect(m_ui->Find2, &QAction::triggered, this, handler(this, &MainWindow::Find2Click));
    connect(m_ui->Create1, &QAction::triggered, this, handler(this, &MainWindow::Create1Click));
    connect(m_ui->View1, &QAction::triggered, this, handler(this, &MainWindow::View1Click));
    connect(m_ui->CsvExport1, &QAction::triggered, this,
            handler(this, &MainWindow::CsvExport1Click));
    connect(m_ui->CsvImport1, &QAction::triggered, this,
            handler(this, &MainWindow::CsvImport1Click));
    connect(m_ui->Resources1, &QAction::triggered, this,
            handler(this, &MainWindow::Resources1Click));
    connect(m_ui->Admin1, &QMenu::aboutToShow, this, handler(this, &MainWindow::Admin1Click));
    connect(m_ui->SetupCompanyInfo1, &QAction::triggered, this,
            handler(this, &MainWindow::SetupCompanyInfo1Click));
    connect(m_ui->SetupDatabaseInfo1, &QAction::triggered, this,
            handler(this, &MainWindow::SetupDatabaseInfo1Click));
    connect(m_ui->ResetPassword1, &QAction::triggered, this,
            handler(this, &MainWindow::ResetPassword1Click));
    connect(m_ui->About1, &QAction::triggered, this, handler(this, &MainWindow::About1Click));
    connect(m_ui->Keys1, &QAction::triggered, this, handler(this, &MainWindow::Keys1Click));
    connect(&StatusNotes::instance(), &StatusNotes::note, this,
            [this](const QString& text) { statusBar()->showMessage(text, 8000); });

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

MainWindow::~MainWindow() = default;

void MainWindow::setWindows(AdminPanel* admin, PasswordWindow* password, AboutBox* about) {
    m_admin = admin;
    m_password = password;
    m_about = about;
}

void MainWindow::FormCreate() {
    m_state.AdminUnlocked = false;
    m_state.WorkingFolder = QDir::currentPath();
    m_state.SettingsFilePath = m_state.WorkingFolder + QDir::separator() + settings::fileName();
    if (QFileInfo::exists(m_state.SettingsFilePath)) {
        m_state.SetupStatus = QStringLiteral("Old");
        settings::load(m_state.SettingsFilePath, m_state.settings, [this](const QString& path) {
            provisioning::startup(path, m_state.WorkingFolder, m_engine);
        });
    } else {
        m_ui->System1->menuAction()->setEnabled(false);
        m_ui->HostFile1->menuAction()->setEnabled(false);
        m_ui->Csv1->menuAction()->setEnabled(false);
        m_ui->Resources1->setEnabled(false);
        m_state.SetupStatus = QStringLiteral("New");
    }
}

void MainWindow::FormActivate() {
    if (m_state.SetupStatus != QLatin1String("New") || m_state.SetupPrompted)
        return;
    // Set first: the box itself deactivates and reactivates this window.
    m_state.SetupPrompted = true;
    if (MessageService::prompt(this, QStringLiteral("Setup File not found. Press OK to create!")) &&
        m_admin)
        m_admin->widget()->show();
}

void MainWindow::FormKeyPress(QChar key) {
    if (key != u'A')
        return;
    m_state.WorkingFolder = QDir::currentPath();
    m_state.SettingsFilePath = m_state.WorkingFolder + QDir::separator() + settings::fileName();
    if (QFileInfo::exists(m_state.SettingsFilePath)) {
        settings::load(m_state.SettingsFilePath, m_state.settings);
        if (m_admin)
            m_admin->fillFromSettings(m_state.settings, false);
    }
    if (!m_admin)
        return;
    if (!m_admin->oldPassword().isEmpty()) {
        if (m_password)
            m_password->showWindow();
    } else {
        m_admin->widget()->show();
    }
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) // the desktop's theme changed
        paintTitle();
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        showStatus();
        runHandler([this] { FormActivate(); });
    }
}

void MainWindow::paintTitle() {
    // The picture takes no input, yet should not be drawn greyed like a disabled label.
    const QPalette theme = palette();
    artwork::paintInColour(m_ui->Image1, artwork::titlePicture(m_ui->Image1->size(), theme));
    QPalette name = theme;
    name.setColor(QPalette::WindowText, artwork::colours(theme).accent);
    m_ui->Label2->setPalette(name);
    QPalette shadow = theme;
    shadow.setColor(QPalette::WindowText,
                    artwork::isDark(theme) ? Qt::black : theme.color(QPalette::WindowText));
    m_ui->Label1->setPalette(shadow);
    m_ui->Label3->setPalette(theme);
}

void MainWindow::showStatus() {
    const QString folder = m_state.settings.DatabasePath;
    m_folderLabel->setText(fontMetrics().elidedText(folder, Qt::ElideMiddle, 260));
    m_folderLabel->setToolTip(folder);
    QString count;
    if (m_state.SetupStatus == QLatin1String("Old")) {
        // Only a note: a folder that cannot be read now is reported by the task that needs it.
        try {
            Table systems(m_engine);
            systems.setDatabaseName(QStringLiteral("IP"));
            systems.setTableName(QStringLiteral("SYSTEMS.DBF"));
            systems.open();
            const int n = systems.recordCount();
            count = n == 1 ? QStringLiteral("1 system") : QStringLiteral("%L1 systems").arg(n);
        } catch (const Error&) {
        }
    }
    m_countLabel->setText(count);
}

void MainWindow::Keys1Click() {
    QString text = QStringLiteral("Keyboard shortcuts\n\n");
    for (QAction* menu : m_ui->MainMenu1->actions()) {
        QList<QAction*> items{menu};
        if (menu->menu())
            for (QAction* a : menu->menu()->actions())
                items << a << (a->menu() ? a->menu()->actions() : QList<QAction*>());
        for (QAction* a : items)
            if (!a->shortcut().isEmpty())
                text += a->shortcut().toString(QKeySequence::NativeText) + QStringLiteral("\t") +
                        QString(a->text()).remove(u'&') + QStringLiteral("\n");
    }
    text += QStringLiteral("\nIn the forms: Enter saves, Escape cancels, Ctrl+P prints the CRAF.");
    MessageService::information(this, text);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    const QString text = event->text();
    if (text.size() == 1)
        runHandler([&] { FormKeyPress(text.front()); });
    QMainWindow::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // No close box: File > Quit ends the program. A window manager's close request does too.
    event->accept();
    Quit1Click();
}

void MainWindow::enableSetupMenus() {
    m_ui->System1->menuAction()->setEnabled(true);
    m_ui->HostFile1->menuAction()->setEnabled(true);
    m_ui->Csv1->menuAction()->setEnabled(true);
    m_ui->Resources1->setEnabled(true);
}

void MainWindow::setViewNewEnabled(bool on) {
    m_ui->ViewNew1->setEnabled(on);
}

bool MainWindow::setupMenusEnabled() const {
    return m_ui->System1->menuAction()->isEnabled() && m_ui->HostFile1->menuAction()->isEnabled() &&
           m_ui->Resources1->isEnabled();
}

void MainWindow::run(const std::function<void()>& task) {
    if (task)
        task();
}

void MainWindow::Quit1Click() {
    QApplication::quit();
}
void MainWindow::Find1Click() {
    run(m_tasks.createSystem);
}
void MainWindow::Find3Click() {
    run(m_tasks.autoFind);
}
void MainWindow::FindScan1Click() {
    run(m_tasks.autoFindScan);
}
void MainWindow::ViewNew1Click() {
    run(m_tasks.viewNew);
}
void MainWindow::Find2Click() {
    run(m_tasks.findSystem);
}
void MainWindow::Create1Click() {
    run(m_tasks.createHosts);
}
void MainWindow::View1Click() {
    run(m_tasks.viewHosts);
}
void MainWindow::CsvExport1Click() {
    run(m_tasks.exportCsv);
}
void MainWindow::CsvImport1Click() {
    run(m_tasks.importCsv);
}
void MainWindow::Resources1Click() {
    run(m_tasks.resources);
}

void MainWindow::Admin1Click() {
    if (m_state.AdminUnlocked && !m_state.settings.Password.isEmpty() &&
        m_state.SetupStatus == QLatin1String("New"))
        return;
    // The password window takes the drop-down's place once it is open: one action, one window.
    QTimer::singleShot(0, this, [this] {
        m_ui->Admin1->close();
        if (m_password)
            m_password->showWindow();
    });
}

void MainWindow::openAdminPage(int page) {
    if (!m_admin)
        return;
    m_admin->fillFromSettings(m_state.settings, false);
    if (!m_state.AdminUnlocked) {
        if (m_password)
            m_password->showWindow();
        return;
    }
    m_admin->selectPage(AdminPanel::Page(page));
    m_admin->widget()->show();
}

void MainWindow::SetupCompanyInfo1Click() {
    openAdminPage(int(AdminPanel::Page::Company));
}
void MainWindow::SetupDatabaseInfo1Click() {
    openAdminPage(int(AdminPanel::Page::Database));
}
void MainWindow::ResetPassword1Click() {
    openAdminPage(int(AdminPanel::Page::Password));
}

void MainWindow::About1Click() {
    if (m_about)
        m_about->exec();
}

} // namespace qn
