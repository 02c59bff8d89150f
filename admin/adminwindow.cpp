#include "adminwindow.h"

#include "appstate.h"
#include "guard.h"
#include "messageservice.h"
#include "provisioning.h"
#include "settings.h"
#include "shell.h"
#include "snapshotswindow.h"
#include "ui_adminwindow.h"

#include <QScreen>

namespace qn {
namespace {

constexpr int kShownLeft = 112;
constexpr int kShownTop = 16;
constexpr int kHiddenTop = 168;

} // namespace

AdminWindow::AdminWindow(AppState& state, Engine& engine, Shell& main, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::AdminWindow>()), m_state(state), m_engine(engine),
      m_main(main), m_snapshots(new SnapshotsWindow(engine, this)) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(688, 213);
    for (QLineEdit* e : {m_ui->OldPassword, m_ui->NewPassword, m_ui->NewPassword2})
        e->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    connect(m_ui->DatabaseButton, &QPushButton::clicked, this,
            handler(this, &AdminWindow::DatabaseButtonClick));
    connect(m_ui->CompanyButton, &QPushButton::clicked, this,
            handler(this, &AdminWindow::CompanyButtonClick));
    connect(m_ui->PrefixButton, &QPushButton::clicked, this,
            handler(this, &AdminWindow::PrefixButtonClick));
    connect(m_ui->PasswordButton, &QPushButton::clicked, this,
            handler(this, &AdminWindow::PasswordButtonClick));
    connect(m_ui->SaveButton, &QPushButton::clicked, this,
            handler(this, &AdminWindow::SaveButtonClick));
    connect(m_ui->CancelButton, &QPushButton::clicked, this,
            handler(this, &AdminWindow::CancelButtonClick));
    connect(m_ui->SnapshotsButton, &QPushButton::clicked, this,
            handler(this, &AdminWindow::SnapshotsButtonClick));
}

AdminWindow::~AdminWindow() = default;

void AdminWindow::fillFromSettings(const SettingsRecord& r, bool withPrefix) {
    m_ui->IPNewPath->setText(r.DatabasePath);
    m_ui->CName->setText(r.CompanyName);
    m_ui->CAddress->setText(r.CompanyAddress);
    m_ui->CCity->setText(r.CompanyCity);
    m_ui->CState->setText(r.CompanyState);
    m_ui->CZip->setText(r.CompanyZip);
    m_ui->CPhone->setText(r.CompanyPhone);
    m_ui->CFax->setText(r.CompanyFax);
    m_ui->CEmail->setText(r.CompanyEmail);
    m_ui->OldPassword->setText(r.Password);
    if (withPrefix)
        m_ui->OldPrefixEdit->setText(r.SysIdPrefix);
}

void AdminWindow::selectPage(Page page) {
    // The Admin menu's pages leave the prefix group as it is.
    QGroupBox* const groups[] = {m_ui->CompanyGroup, m_ui->DatabaseGroup, m_ui->PasswordGroup};
    QGroupBox* chosen = groups[int(page)];
    for (QGroupBox* g : groups) {
        g->move(g->x(), g == chosen ? kShownTop : kHiddenTop);
        g->setVisible(g == chosen);
    }
}

QString AdminWindow::oldPassword() const {
    return m_ui->OldPassword->text();
}

void AdminWindow::showOnly(QGroupBox* group) {
    for (QGroupBox* g :
         {m_ui->CompanyGroup, m_ui->DatabaseGroup, m_ui->PasswordGroup, m_ui->PrefixBox}) {
        if (g == group)
            g->move(kShownLeft, kShownTop);
        else
            g->move(g->x(), kHiddenTop);
        g->setVisible(g == group);
    }
}

void AdminWindow::DatabaseButtonClick() {
    showOnly(m_ui->DatabaseGroup);
}
void AdminWindow::CompanyButtonClick() {
    showOnly(m_ui->CompanyGroup);
}
void AdminWindow::PrefixButtonClick() {
    showOnly(m_ui->PrefixBox);
}
void AdminWindow::PasswordButtonClick() {
    showOnly(m_ui->PasswordGroup);
}

void AdminWindow::SaveButtonClick() {
    if (!m_ui->NewPassword->text().isEmpty() &&
        m_ui->NewPassword->text() != m_ui->NewPassword2->text()) {
        MessageService::information(this,
                                    QStringLiteral("Passwords DO NOT match! Please re-enter!"));
        m_ui->NewPassword->clear();
        m_ui->NewPassword2->clear();
        m_ui->NewPassword->setFocus();
        return;
    }
    settings::Lines lines;
    lines.values = {m_ui->IPNewPath->text(),
                    m_ui->NewPrefixEdit->text().isEmpty() ? m_ui->OldPrefixEdit->text()
                                                          : m_ui->NewPrefixEdit->text(),
                    m_ui->CName->text(),
                    m_ui->CAddress->text(),
                    m_ui->CCity->text(),
                    m_ui->CState->text(),
                    m_ui->CZip->text(),
                    m_ui->CPhone->text(),
                    m_ui->CFax->text(),
                    m_ui->CEmail->text()};
    lines.password =
        m_ui->NewPassword->text().isEmpty() ? m_ui->OldPassword->text() : m_ui->NewPassword->text();
    // Everything that can fail comes before the file is replaced, so a refused value or a
    // folder that cannot be made leaves the old settings as they were.
    settings::validate(lines);
    const QString databasePath = lines.values[0];
    provisioning::prepareAdminFolder(databasePath, m_state.WorkingFolder);
    settings::save(m_state.SettingsFilePath, lines);
    provisioning::registerAlias(m_engine, databasePath, false);

    m_main.enableSetupMenus();
    m_main.showShell();
    hide();
}

void AdminWindow::CancelButtonClick() {
    hide();
    for (QGroupBox* g :
         {m_ui->CompanyGroup, m_ui->DatabaseGroup, m_ui->PasswordGroup, m_ui->PrefixBox}) {
        g->move(g->x(), kHiddenTop);
        g->hide();
    }
    m_main.bringForward();
}

void AdminWindow::SnapshotsButtonClick() {
    m_snapshots->show();
    m_snapshots->raise();
    m_snapshots->activateWindow();
}

void AdminWindow::reject() {
    CancelButtonClick();
}

} // namespace qn
