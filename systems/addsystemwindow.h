#pragma once

#include <QDialog>
#include <QSet>
#include <functional>
#include <memory>

class QLineEdit;

namespace Ui {
class AddSystemWindow;
}

namespace qn {

class DataModule;
struct AppState;

/// Records one new system: its System ID, user, address, names, type and items.
class AddSystemWindow : public QDialog {
    Q_OBJECT
public:
    AddSystemWindow(AppState& state, DataModule& dm, QWidget* mainWindow,
                    QWidget* parent = nullptr);
    ~AddSystemWindow() override;

    Ui::AddSystemWindow& ui() { return *m_ui; }
    QString systemId() const;
    /// Runs the full report of the shown System ID (set when the report window exists).
    void setReport(std::function<void(const QString&)> report) { m_report = std::move(report); }

public slots:
    void FormShow();
    void IP1Change();
    void IP2Change();
    void IP3Change();
    void IP4Change();
    void IP3Exit();
    void IP4Exit();
    void UserLastEditExit();
    void SaveButtonClick();
    void CRAFButtonClick();
    void CancelButtonClick();
    void HWAddButtonClick();
    void SWAddButtonClick();
    void HWDeleteButtonClick();
    void SWDeleteButtonClick();
    void ClearHWForm();
    void ClearSWForm();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void reject() override;

private:
    void octetRule(QLineEdit* box, QLineEdit* next);
    void writeSystemRows(const QString& id, const QString& entry, const QString& key);
    void moveItems(const QString& from, const QString& to);
    bool addressTaken();

    std::unique_ptr<Ui::AddSystemWindow> m_ui;
    AppState& m_state;
    DataModule& m_dm;
    QWidget* m_main;
    std::function<void(const QString&)> m_report;
    QString m_savedId;                   // the System ID this showing has already stored
    QSet<uint32_t> m_addedHw, m_addedSw; // item rows added in this showing
};

} // namespace qn
