#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>
#include <functional>
#include <memory>

class QAbstractItemView;
class QLineEdit;
class QStandardItemModel;

namespace Ui {
class AddSystemWindow;
}

namespace qn {

class DataModule;
class Table;
struct AppState;
struct SystemRecord;

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
    /// Items entered before Save: their box values, and the model that shows them in a grid.
    struct Held {
        QList<QStringList> rows;
        QStandardItemModel* model = nullptr;
        QList<int> columns; // grid column of each entered field
        int idColumn = -1;
    };

    void octetRule(QLineEdit* box, QLineEdit* next);
    bool pasteAddress();
    /// What the boxes hold, as a record to store.
    SystemRecord record() const;
    bool addressTaken();
    bool itemsHeld() const;
    void holdItems();
    void holdItem(Held& held, const QStringList& values);
    void storeHeldItems(const QString& id);
    void addItem(Held& held, Table& table, const QStringList& fields,
                 const QList<QLineEdit*>& boxes);
    void deleteItem(Held& held, Table& t, QAbstractItemView* grid, const char* kind);

    std::unique_ptr<Ui::AddSystemWindow> m_ui;
    AppState& m_state;
    DataModule& m_dm;
    QWidget* m_main;
    std::function<void(const QString&)> m_report;
    QString m_savedId; // the System ID this showing has already stored
    Held m_heldHw, m_heldSw;
};

} // namespace qn
