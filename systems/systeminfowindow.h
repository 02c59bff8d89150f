#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;

namespace Ui {
class SystemInfoWindow;
}

namespace qn {

class DataModule;
class Engine;
class ItemEntryWindow;
class Table;

/// One recorded system, edited in place over the tables its finder prepared: the systems table
/// filtered to the system (or a user's systems) on its SysID tag, the IP, hardware and software
/// tables on theirs, linked to it.
class SystemInfoWindow : public QDialog {
    Q_OBJECT
public:
    SystemInfoWindow(DataModule& dm, QWidget* mainWindow, QWidget* parent = nullptr);
    ~SystemInfoWindow() override;

    void setEntryForms(ItemEntryWindow* hardware, ItemEntryWindow* software);
    /// Runs the full report of a System ID (set when the report window exists).
    void setReport(std::function<void(const QString&)> report) { m_report = std::move(report); }
    /// The System ID shown at the top.
    QString systemId() const;
    Ui::SystemInfoWindow& ui() { return *m_ui; }
    /// Whether the system is shown read-only because another administrator is editing it.
    bool readOnly() const { return m_readOnly; }
    QLabel* busyLabel() const { return m_busyLabel; }
    QPushButton* tryAgainButton() const { return m_tryAgain; }

public slots:
    void UpdateButtonClick();
    void HAddButtonClick();
    void SAddButtonClick();
    void HDeleteButtonClick();
    void SDeleteButtonClick();
    void CRAFButtonClick();
    void CancelButtonClick();
    /// Looks again whether another administrator still edits the shown system.
    void TryAgainButtonClick();

protected:
    void reject() override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void deleteItem(Table& items, bool hardware);
    bool editedElsewhere();
    void checkEditable();
    void setReadOnly(bool on);
    QString shownId() const;
    [[noreturn]] void refuseEditing();
    template <class F> void editing(Table& t, F&& work);

    std::unique_ptr<Ui::SystemInfoWindow> m_ui;
    DataModule& m_dm;
    QWidget* m_main;
    ItemEntryWindow* m_hardwareForm = nullptr;
    ItemEntryWindow* m_softwareForm = nullptr;
    std::function<void(const QString&)> m_report;
    std::unique_ptr<Table> m_addressCheck; // looks addresses up without moving IPTable
    QList<QLineEdit*> m_boxes;
    QLabel* m_busyLabel;
    QPushButton* m_tryAgain;
    QTimer m_recheck;
    bool m_readOnly = false;
};

} // namespace qn
