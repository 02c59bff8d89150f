#pragma once

#include <QDialog>
#include <functional>
#include <memory>

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

public slots:
    void UpdateButtonClick();
    void HAddButtonClick();
    void SAddButtonClick();
    void HDeleteButtonClick();
    void SDeleteButtonClick();
    void CRAFButtonClick();
    void CancelButtonClick();

protected:
    void reject() override;

private:
    void deleteItem(Table& items, bool hardware);

    std::unique_ptr<Ui::SystemInfoWindow> m_ui;
    DataModule& m_dm;
    QWidget* m_main;
    ItemEntryWindow* m_hardwareForm = nullptr;
    ItemEntryWindow* m_softwareForm = nullptr;
    std::function<void(const QString&)> m_report;
    std::unique_ptr<Table> m_addressCheck; // looks addresses up without moving IPTable
};

} // namespace qn
