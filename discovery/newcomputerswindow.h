#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class NewComputersWindow;
}

namespace qn {

class AutoDiscoveryWindow;
class DataModule;
struct AppState;

/// New Computers Found: the computers of the last Auto-Find run and the Add that records each
/// of them as a new system.
class NewComputersWindow : public QDialog {
    Q_OBJECT
public:
    NewComputersWindow(AppState& state, DataModule& dm, AutoDiscoveryWindow& finder,
                       QWidget* parent = nullptr);
    ~NewComputersWindow() override;

    Ui::NewComputersWindow& ui() { return *m_ui; }

public slots:
    /// The View New menu entry.
    void showWindow();
    void AddButtonClick();
    void CancelButtonClick();
    /// Fills the list boxes from the run's lists.
    void refresh();

protected:
    void reject() override;

private:
    std::unique_ptr<Ui::NewComputersWindow> m_ui;
    AppState& m_state;
    DataModule& m_dm;
    AutoDiscoveryWindow& m_finder;
};

} // namespace qn
