#pragma once

#include <QDialog>
#include <functional>
#include <memory>

namespace Ui {
class ItemEntryWindow;
}

namespace qn {

class DataModule;
class Table;

/// The Hardware and the Software Entry Form: items for the system System Info shows.
class ItemEntryWindow : public QDialog {
    Q_OBJECT
public:
    enum class Kind { Hardware, Software };
    /// systemId gives the System ID System Info displays; back is the window to return to.
    ItemEntryWindow(Kind kind, DataModule& dm, std::function<QString()> systemId, QWidget* back,
                    QWidget* parent = nullptr);
    ~ItemEntryWindow() override;
    void setReturnWindow(QWidget* back) { m_back = back; }
    Ui::ItemEntryWindow& ui() { return *m_ui; }

public slots:
    void FormShow();
    void SaveButtonClick();
    void NewButtonClick();
    void CancelButtonClick();
    void ClearForm();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    Kind m_kind;
    std::unique_ptr<Ui::ItemEntryWindow> m_ui;
    DataModule& m_dm;
    std::function<QString()> m_systemId;
    QWidget* m_back;
};

} // namespace qn
