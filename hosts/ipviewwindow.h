#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class IPViewWindow;
}

namespace qn {

class DataModule;
struct AppState;

/// Every address of the inventory in machine-type order, editable in place; opens a system,
/// exports the hosts file.
class IPViewWindow : public QDialog {
    Q_OBJECT
public:
    IPViewWindow(AppState& state, DataModule& dm, QWidget* mainWindow, QWidget* systemInfo,
                 QWidget* parent = nullptr);
    ~IPViewWindow() override;
    Ui::IPViewWindow& ui() { return *m_ui; }
    /// System Info, created after this window, receives the systems it finds.
    void setSystemInfo(QWidget* systemInfo) { m_systemInfo = systemInfo; }

    /// Where a button of the given designed left edge stands in a window of outer width w:
    /// scaled from the designed 834 pixels, rounded to the nearest pixel, halves to even.
    static int scaledLeft(int w, int designedLeft);

public slots:
    void OpenButtonClick();
    void ExportButtonClick();
    void CancelButtonClick();
    void FormResize();
    void FormDblClick();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    void recomputeKey();
    void deleteCurrent();

    std::unique_ptr<Ui::IPViewWindow> m_ui;
    AppState& m_state;
    DataModule& m_dm;
    QWidget* m_main;
    QWidget* m_systemInfo;
    int m_keyHook = 0;
};

/// The main menu's Hosts File > Create: every address in type order into the hosts file.
void createHostsFile(AppState& state, DataModule& dm, QWidget* parent);

} // namespace qn
