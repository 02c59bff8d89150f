#include "reportpreview.h"

#include "ui_reportpreview.h"

#include <QFileDialog>
#include <QPaintEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

namespace qn::report {

/// The pages at the preview's zoom, one under the other on a grey desk.
class PageView : public QWidget {
public:
    explicit PageView(const Document& doc) : m_doc(doc) {}

    void setZoom(double zoom) {
        m_zoom = zoom;
        resize(sizeHint());
        update();
    }

    QSize sizeHint() const override {
        const QSizeF paper = paperPixels();
        const int n = int(m_doc.pages.size());
        return QSize(int(paper.width()) + 2 * kGap, n * (int(paper.height()) + kGap) + kGap);
    }

    /// Where page index sits on this widget.
    QRect paperRect(int index) const {
        const QSizeF paper = paperPixels();
        return QRect(kGap, kGap + index * (int(paper.height()) + kGap), int(paper.width()),
                     int(paper.height()));
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter p(this);
        p.fillRect(event->rect(), QColor(128, 128, 128));
        const QRectF paint = m_doc.layout.paintRect(QPageLayout::Inch);
        const double px = kPixelsPerInch * m_zoom;
        for (int i = 0; i < int(m_doc.pages.size()); ++i) {
            const QRect paper = paperRect(i);
            if (!paper.intersects(event->rect()))
                continue;
            p.fillRect(paper, Qt::white);
            const QRectF target(paper.left() + paint.left() * px, paper.top() + paint.top() * px,
                                paint.width() * px, paint.height() * px);
            m_doc.paintPage(p, i, target);
        }
    }

private:
    static constexpr int kGap = 16;

    QSizeF paperPixels() const {
        const QSizeF in = m_doc.layout.fullRect(QPageLayout::Inch).size();
        return in * kPixelsPerInch * m_zoom;
    }

    const Document& m_doc;
    double m_zoom = 1.0;
};

ReportPreview::ReportPreview(Document document, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::ReportPreview>()),
      m_document(std::move(document)) {
    m_ui->setupUi(this);
    if (!m_document.title.isEmpty())
        setWindowTitle(QStringLiteral("Print Preview - %1").arg(m_document.title));
    m_view = new PageView(m_document);
    m_ui->PageArea->setWidget(m_view);
    m_ui->PageArea->setBackgroundRole(QPalette::Dark);
    const int n = int(m_document.pages.size());
    m_ui->PageLabel->setText(n == 1 ? tr("1 page") : tr("%1 pages").arg(n));
    setZoom(1.0);
    connect(m_ui->PrintButton, &QPushButton::clicked, this, &ReportPreview::PrintButtonClick);
    connect(m_ui->SaveButton, &QPushButton::clicked, this, &ReportPreview::SaveButtonClick);
    connect(m_ui->ZoomInButton, &QPushButton::clicked, this, &ReportPreview::ZoomInButtonClick);
    connect(m_ui->ZoomOutButton, &QPushButton::clicked, this, &ReportPreview::ZoomOutButtonClick);
    connect(m_ui->CloseButton, &QPushButton::clicked, this, &QDialog::accept);
    m_choosePdf = [](QWidget* owner) {
        QString path = QFileDialog::getSaveFileName(owner, tr("Save as PDF"), QString(),
                                                    tr("PDF files (*.pdf)"));
        if (!path.isEmpty() && !path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
            path += QLatin1String(".pdf");
        return path;
    };
}

ReportPreview::~ReportPreview() = default;

void ReportPreview::PrintButtonClick() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(m_document.layout);
    printer.setDocName(m_document.title);
    QPrintDialog dialog(&printer, this);
    dialog.setMinMax(1, int(m_document.pages.size()));
    if (dialog.exec() == QDialog::Accepted)
        m_document.print(printer);
}

void ReportPreview::SaveButtonClick() {
    const QString path = m_choosePdf ? m_choosePdf(this) : QString();
    if (!path.isEmpty())
        m_document.savePdf(path);
}

void ReportPreview::ZoomInButtonClick() {
    setZoom(std::min(m_zoom * 1.25, 4.0));
}

void ReportPreview::ZoomOutButtonClick() {
    setZoom(std::max(m_zoom / 1.25, 0.25));
}

void ReportPreview::setZoom(double zoom) {
    m_zoom = zoom;
    m_view->setZoom(zoom);
    m_ui->ZoomLabel->setText(QStringLiteral("%1%").arg(qRound(zoom * 100)));
    m_ui->ZoomOutButton->setEnabled(zoom > 0.25 + 1e-9);
    m_ui->ZoomInButton->setEnabled(zoom < 4.0 - 1e-9);
}

} // namespace qn::report
