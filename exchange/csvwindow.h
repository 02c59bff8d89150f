#pragma once

#include <QDialog>
#include <functional>
#include <memory>

namespace Ui {
class CsvWindow;
}

namespace qn {

class DataModule;
class PreviewModel;
namespace csv {
struct ImportPlan;
}

/// The menu's CSV entries: Export writes the inventory as one CSV file per table into a chosen
/// folder; Import reads such files and shows this window, the preview, where the user ticks the
/// systems to store. Opens over the main window, which stays visible.
class CsvWindow : public QDialog {
    Q_OBJECT
public:
    /// Asks the user for a folder or a file; an empty answer cancels.
    using Chooser = std::function<QString(QWidget* owner)>;

    CsvWindow(DataModule& dm, QWidget* mainWindow, QWidget* parent = nullptr);
    ~CsvWindow() override;

    /// The folder Export writes into (a folder dialog unless replaced).
    void setFolderChooser(Chooser chooser) { m_chooseFolder = std::move(chooser); }
    /// The file Import reads (a file dialog unless replaced).
    void setFileChooser(Chooser chooser) { m_chooseFile = std::move(chooser); }

    Ui::CsvWindow& ui() { return *m_ui; }

public slots:
    void ExportClick();
    void ImportClick();
    void ImportButtonClick();
    void CancelButtonClick();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void showSummary();
    /// Marks the plan's rows again against the tables as they are now.
    void refresh();

    std::unique_ptr<Ui::CsvWindow> m_ui;
    DataModule& m_dm;
    QWidget* m_main;
    Chooser m_chooseFolder;
    Chooser m_chooseFile;
    std::unique_ptr<csv::ImportPlan> m_plan;
    PreviewModel* m_model;
};

} // namespace qn
