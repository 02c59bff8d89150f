#pragma once

#include "report.h"

#include <QDialog>
#include <functional>
#include <memory>

namespace Ui {
class ReportPreview;
}

namespace qn::report {

class PageView;

/// Shows the pages of a run, one under the other, and prints them or saves them as PDF.
class ReportPreview : public QDialog {
    Q_OBJECT
public:
    explicit ReportPreview(Document document, QWidget* parent = nullptr);
    ~ReportPreview() override;

    const Document& document() const { return m_document; }
    Ui::ReportPreview& ui() { return *m_ui; }
    double zoom() const { return m_zoom; }
    /// Asks for the PDF file name; empty cancels. The default is a save-file dialog.
    void setPdfFileChooser(std::function<QString(QWidget*)> chooser) {
        m_choosePdf = std::move(chooser);
    }

public slots:
    void PrintButtonClick();
    void SaveButtonClick();
    void ZoomInButtonClick();
    void ZoomOutButtonClick();

private:
    void setZoom(double zoom);

    std::unique_ptr<Ui::ReportPreview> m_ui;
    Document m_document;
    PageView* m_view;
    double m_zoom = 1.0;
    std::function<QString(QWidget*)> m_choosePdf;
};

} // namespace qn::report
