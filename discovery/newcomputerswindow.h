#pragma once

#include "reconcile.h"

#include <QDialog>
#include <memory>
#include <optional>

namespace Ui {
class NewComputersWindow;
}

namespace qn {

class AutoDiscoveryWindow;
class DataModule;
class FindingsModel;
struct AppState;

/// New Computers Found: the computers of the last Auto-Find run and the Add that records each
/// of them as a new system; beside them, the recorded computers the run saw at another address
/// (Changed, with Update Address) and those its listing no longer names (Silent).
class NewComputersWindow : public QDialog {
    Q_OBJECT
public:
    NewComputersWindow(AppState& state, DataModule& dm, AutoDiscoveryWindow& finder,
                       QWidget* parent = nullptr);
    ~NewComputersWindow() override;

    Ui::NewComputersWindow& ui() { return *m_ui; }
    /// Whether the recorded names of the last run are being looked up.
    bool isChecking() const { return m_checking; }

public slots:
    /// The View New menu entry.
    void showWindow();
    void AddButtonClick();
    void CancelButtonClick();
    void CheckButtonClick();
    void StopButtonClick();
    void UpdateAddressButtonClick();
    /// Fills the list boxes from the run's lists.
    void refresh();

protected:
    void reject() override;

private:
    void runChanged();
    void runFinished();
    void readRowsIfShown();
    void lookUpNext();
    void answered(const QString& name, const QString& address, bool ok);
    void stopChecking();
    /// Refills the changed list (the silent one is filled when the rows are read).
    void showFindings();
    /// The buttons, the progress and the summaries.
    void showState();

    std::unique_ptr<Ui::NewComputersWindow> m_ui;
    AppState& m_state;
    DataModule& m_dm;
    AutoDiscoveryWindow& m_finder;
    FindingsModel* m_changedModel;
    FindingsModel* m_silentModel;
    /// The last run's comparison; none during a run or before the first one.
    std::optional<reconcile::Reconciliation> m_rec;
    bool m_listingRead = false;
    bool m_chooseTab = false;
    bool m_rowsStale = true;
    bool m_checking = false;
    QStringList m_queue;
    qsizetype m_asked = 0;
};

} // namespace qn
