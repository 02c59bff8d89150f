#pragma once

#include <QWidget>
#include <functional>
#include <memory>

namespace qn {

class DataModule;
struct AppState;

namespace report {
class Report;
}

/// Lays the CRAF out on report: the page header with the company and system blocks, the
/// hardware and software lists under their headings, and the page footer. The system block
/// reads the data module's systems source, the lists its hardware and software sources.
void layOutCraf(report::Report& report, const DataModule& dm);

/// The CRAF report form. Never shown itself; its report is previewed by the CRAF buttons of
/// System Info and Add New System, which call the two operations below with the shown System ID.
class CrafForm : public QWidget {
    Q_OBJECT
public:
    CrafForm(AppState& state, DataModule& dm, QWidget* parent = nullptr);
    ~CrafForm() override;

    report::Report& QuickRep1() { return *m_report; }

    /// Tells whether the search that opened System Info was by user name.
    void setUserNameSearch(std::function<bool()> byUserName) {
        m_byUserName = std::move(byUserName);
    }

    /// System Info: the systems table restricted to sysId, the item tables as System Info
    /// holds them; then the preview.
    void SystemInfoCRAF(const QString& sysId);
    /// Add New System: the address and item tables opened on their SysID tag, the systems table
    /// restricted to sysId; then the preview.
    void AddSystemCRAF(const QString& sysId);

    /// The company captions of the page header, from the settings record.
    void setCompanyCaptions();

public slots:
    /// After the preview the systems table keeps the filter of the search that found it:
    /// the reported user's systems after a search by user name, else the reported system.
    void QuickRep1AfterPreview();

private:
    void previewReport();

    AppState& m_state;
    DataModule& m_dm;
    std::unique_ptr<report::Report> m_report;
    std::function<bool()> m_byUserName;
};

} // namespace qn
