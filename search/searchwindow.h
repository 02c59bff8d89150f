#pragma once

#include "search.h"

#include <QDialog>
#include <memory>

class QButtonGroup;

namespace Ui {
class SearchWindow;
}

namespace qn {

class DataModule;

/// Finds one system by one of six criteria and hands it to System Info.
class SearchWindow : public QDialog {
    Q_OBJECT
public:
    using Criterion = search::Criterion;
    using enum search::Criterion;

    SearchWindow(DataModule& dm, QWidget* mainWindow, QWidget* systemInfo,
                 QWidget* parent = nullptr);
    ~SearchWindow() override;

    /// The criterion of the last search; the report rebuilds its filter from it.
    Criterion criterion() const { return m_criterion; }
    Ui::SearchWindow& ui() { return *m_ui; }
    /// System Info, created after this window, receives the systems it finds.
    void setSystemInfo(QWidget* systemInfo) { m_systemInfo = systemInfo; }

public slots:
    void FormShow();
    void SearchGroupClick();
    void FindButtonClick();
    void CancelButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void chooseNone();
    void handOver(const QString& systemsFilter);
    void retry();

    std::unique_ptr<Ui::SearchWindow> m_ui;
    DataModule& m_dm;
    QWidget* m_main;
    QWidget* m_systemInfo;
    QButtonGroup* m_items;
    Criterion m_criterion = None;
};

} // namespace qn
