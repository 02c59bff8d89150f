#pragma once

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
    enum Criterion { None = -1, IPAddress, Alias, OfficeNumber, ComputerName, UserName, SysID };

    SearchWindow(DataModule& dm, QWidget* mainWindow, QWidget* systemInfo,
                 QWidget* parent = nullptr);
    ~SearchWindow() override;

    /// The criterion of the last search; the report rebuilds its filter from it.
    Criterion criterion() const { return m_criterion; }
    Ui::SearchWindow& ui() { return *m_ui; }
    /// System Info, created after this window, receives the systems it finds.
    void setSystemInfo(QWidget* systemInfo) { m_systemInfo = systemInfo; }

    /// The key an "IP Address" value is looked up by: the value without its first three dots.
    static QString addressKey(const QString& value);
    /// First and last name of a "User Name" value, split at its first space.
    static QPair<QString, QString> nameHalves(const QString& value);

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
    /// Opens DummyTable on the tag and goes to the key; with four octets, to the row of that
    /// key holding them.
    bool seek(const QString& file, const QString& tag, const QStringList& fields,
              const QStringList& values, const QStringList& octets = {});
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
