#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class PasswordWindow;
}

namespace qn {

class AdminPanel;
struct AppState;

/// Asks for the administration password; three wrong entries in a row close it.
class PasswordWindow : public QDialog {
    Q_OBJECT
public:
    PasswordWindow(AppState& state, QWidget* mainWindow, AdminPanel& admin,
                   QWidget* parent = nullptr);
    ~PasswordWindow() override;

    /// Shows the window modeless; a window that was hidden starts again at attempt 1.
    void showWindow();
    int attempt() const { return m_attempt; }
    Ui::PasswordWindow& ui() { return *m_ui; }

public slots:
    void OKButtonClick();
    void CancelButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    std::unique_ptr<Ui::PasswordWindow> m_ui;
    AppState& m_state;
    QWidget* m_main;
    AdminPanel& m_admin;
    int m_attempt = 1;
};

} // namespace qn
