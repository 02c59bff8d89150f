#pragma once

#include <QDialog>
#include <memory>

class QComboBox;

namespace Ui {
class ResourcesWindow;
}

namespace qn {

class DataModule;

/// The resource pool: lists it by main and sub category, adds and deletes resources, and gives
/// the selected one to an existing system as a hardware or software item. Opens over the main
/// window, which stays visible; holds the pool table open from showing until Close.
class ResourcesWindow : public QDialog {
    Q_OBJECT
public:
    ResourcesWindow(DataModule& dm, QWidget* mainWindow, QWidget* parent = nullptr);
    ~ResourcesWindow() override;

    Ui::ResourcesWindow& ui() { return *m_ui; }

public slots:
    void FormShow();
    void MainComboChange();
    void CategoryComboChange();
    void AddButtonClick();
    void AddRButtonClick();
    void CancelRButtonClick();
    void ClearGroup();
    void Button1Click();
    void AddRadioGroupClick();
    void AddResourceButtonClick();
    void ClearResourceButtonClick();
    void CloseButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void fillFilterList(QComboBox* list, const QString& field);
    /// Opens the pool again as this window last selected it, after another window closed it.
    void reopenPool();
    enum class Selection { NotShown, None, Row };
    /// Whether the user can see the pool's current row in the grid.
    Selection selection() const;

    std::unique_ptr<Ui::ResourcesWindow> m_ui;
    DataModule& m_dm;
    QWidget* m_main;
    bool m_holdsPool = false; // from showing until Close
    QString m_poolFilter;     // the kind-and-category filter the grid shows, or none
};

} // namespace qn
