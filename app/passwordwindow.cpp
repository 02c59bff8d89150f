#include "passwordwindow.h"

#include "adminpanel.h"
#include "appstate.h"
#include "guard.h"
#include "messageservice.h"
#include "ui_passwordwindow.h"

#include <QScreen>
#include <QShowEvent>

namespace qn {

PasswordWindow::PasswordWindow(AppState& state, QWidget* mainWindow, AdminPanel& admin,
                               QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::PasswordWindow>()), m_state(state),
      m_main(mainWindow), m_admin(admin) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(223, 98);
    m_ui->PasswordBox->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    connect(m_ui->OKButton, &QPushButton::clicked, this,
            handler(this, &PasswordWindow::OKButtonClick));
    connect(m_ui->CancelButton, &QPushButton::clicked, this,
            handler(this, &PasswordWindow::CancelButtonClick));
}

PasswordWindow::~PasswordWindow() = default;

void PasswordWindow::showWindow() {
    if (!isVisible()) {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
        m_ui->PasswordBox->setFocus(); // what is typed goes to the password
    }
    show();
    raise();
    activateWindow();
}

void PasswordWindow::showEvent(QShowEvent* event) {
    // Only a hidden window becoming visible starts the count again.
    if (!event->spontaneous())
        m_attempt = 1;
    QDialog::showEvent(event);
}

void PasswordWindow::OKButtonClick() {
    const QString entered = m_ui->PasswordBox->text();
    m_ui->PasswordBox->clear();
    if (entered == m_state.settings.Password) {
        m_admin.fillFromSettings(m_state.settings, true);
        m_state.AdminUnlocked = true;
        m_admin.widget()->show();
        hide();
    } else if (m_attempt != 3) {
        MessageService::information(this, QStringLiteral("Password incorrect...Please try again!"));
        m_ui->PasswordBox->setFocus();
        ++m_attempt;
    } else {
        ++m_attempt;
        MessageService::information(
            this, QStringLiteral("Password entry failed 3 times...Access Denied!"));
        m_main->show();
        hide();
    }
}

void PasswordWindow::CancelButtonClick() {
    hide();
}

void PasswordWindow::reject() {
    CancelButtonClick();
}

} // namespace qn
