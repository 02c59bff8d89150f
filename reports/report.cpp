#include "report.h"

#include "datamodule.h"
#include "error.h"
#include "reportpreview.h"
#include "table.h"

#include <QLocale>
#include <QMarginsF>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <algorithm>

namespace qn::report {

// --- bands -----------------------------------------------------------------------------------

Band::Band(Kind kind, QString name, int height)
    : m_kind(kind), m_name(std::move(name)), m_height(height) {}

Element& Band::add(Element e) {
    m_elements.push_back(std::make_unique<Element>(std::move(e)));
    return *m_elements.back();
}

Element& Band::addLabel(const QString& name, const QString& caption, QRect geometry,
                        const QFont& font, QColor color, bool wordWrap) {
    Element e;
    e.kind = Element::Kind::Label;
    e.name = name;
    e.caption = caption;
    e.geometry = geometry;
    e.font = font;
    e.color = color;
    e.wordWrap = wordWrap;
    return add(std::move(e));
}

Element& Band::addDBText(const QString& name, const DataSource* source, const QString& field,
                         QRect geometry, const QFont& font, bool wordWrap) {
    Element e;
    e.kind = Element::Kind::DBText;
    e.name = name;
    e.source = source;
    e.field = field;
    e.geometry = geometry;
    e.font = font;
    e.wordWrap = wordWrap;
    return add(std::move(e));
}

Element& Band::addSysDateTime(const QString& name, QRect geometry, const QFont& font) {
    Element e;
    e.kind = Element::Kind::SysDateTime;
    e.name = name;
    e.geometry = geometry;
    e.font = font;
    return add(std::move(e));
}

Element& Band::addRectangle(const QString& name, QRect geometry, int penWidth) {
    Element e;
    e.kind = Element::Kind::Rectangle;
    e.name = name;
    e.geometry = geometry;
    e.penWidth = penWidth;
    return add(std::move(e));
}

Element& Band::addFilledRectangle(const QString& name, QRect geometry, QColor color) {
    Element e;
    e.kind = Element::Kind::FilledRectangle;
    e.name = name;
    e.geometry = geometry;
    e.color = color;
    return add(std::move(e));
}

Element& Band::addVLine(const QString& name, QRect geometry, int penWidth) {
    Element e;
    e.kind = Element::Kind::VLine;
    e.name = name;
    e.geometry = geometry;
    e.penWidth = penWidth;
    return add(std::move(e));
}

Element* Band::element(const QString& name) const {
    for (const auto& e : m_elements)
        if (e->name == name)
            return e.get();
    return nullptr;
}

QPageLayout letterHalfInch() {
    return QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait,
                       QMarginsF(0.5, 0.5, 0.5, 0.5), QPageLayout::Inch);
}

// --- running ---------------------------------------------------------------------------------

namespace {

Table* tableOf(const DataSource* source) {
    return source ? source->table() : nullptr;
}

// The locale's short date with a four-digit year, as date fields show it, and the time.
QString dateTimeText(const QDateTime& t) {
    const QLocale locale;
    QString date = locale.dateFormat(QLocale::ShortFormat);
    if (!date.contains(QLatin1String("yyyy")))
        date.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return locale.toString(t.date(), date) + u' ' +
           locale.toString(t.time(), QStringLiteral("h:mm:ss AP"));
}

// Places bands top to bottom, starting a new page when the next one does not fit.
class Layouter {
public:
    Layouter(Document& doc, const Band* header, const Band* footer, int frameWidth, QDateTime now)
        : m_doc(doc), m_header(header), m_footer(footer), m_frame(frameWidth),
          m_now(std::move(now)), m_size(doc.pageSize()) {}

    void startPage() {
        m_doc.pages.emplace_back();
        m_y = 0;
        if (m_header) {
            place(*m_header, 0);
            m_y = m_header->height();
        }
        m_bodyTop = m_y;
    }

    void endPage() {
        if (m_footer)
            place(*m_footer, m_size.height() - m_footer->height());
        if (m_frame > 0) {
            PlacedItem f;
            f.kind = Element::Kind::Rectangle;
            f.rect = QRect(QPoint(0, 0), m_size);
            f.color = Qt::black;
            f.penWidth = m_frame;
            m_doc.pages.back().items.push_back(f);
        }
    }

    /// Moves to a new page unless height fits below the last band; a band taller than an
    /// empty page is placed (and cut) all the same.
    void reserve(int height) {
        if (m_y + height > bodyBottom() && m_y > m_bodyTop) {
            endPage();
            startPage();
        }
    }

    void put(const Band& band) {
        reserve(band.height());
        place(band, m_y);
        m_y += band.height();
    }

private:
    int bodyBottom() const { return m_size.height() - (m_footer ? m_footer->height() : 0); }

    void place(const Band& band, int top) {
        Page& page = m_doc.pages.back();
        const auto rule = [&](int y, int width) {
            PlacedItem r;
            r.kind = Element::Kind::FilledRectangle;
            r.rect = QRect(0, y, m_size.width(), width);
            r.color = Qt::black;
            page.items.push_back(r);
        };
        if (band.ruleAbove > 0)
            rule(top, band.ruleAbove);
        for (const auto& e : band.elements()) {
            PlacedItem item;
            item.kind = e->kind;
            item.rect = e->geometry.translated(0, top);
            item.font = e->font;
            item.color = e->color;
            item.wordWrap = e->wordWrap;
            item.penWidth = e->penWidth;
            item.text = textOf(*e);
            page.items.push_back(std::move(item));
        }
        if (band.ruleBelow > 0)
            rule(top + band.height() - band.ruleBelow, band.ruleBelow);
    }

    QString textOf(const Element& e) const {
        switch (e.kind) {
        case Element::Kind::Label:
            return e.caption;
        case Element::Kind::DBText: {
            Table* t = tableOf(e.source);
            return t && t->isActive() ? t->fieldText(e.field) : QString();
        }
        case Element::Kind::SysDateTime:
            return dateTimeText(m_now);
        default:
            return {};
        }
    }

    Document& m_doc;
    const Band* m_header;
    const Band* m_footer;
    int m_frame;
    QDateTime m_now;
    QSize m_size;
    int m_y = 0;
    int m_bodyTop = 0;
};

} // namespace

Report::Report(QObject* parent) : QObject(parent), pageLayout(letterHalfInch()) {}

Report::~Report() = default;

Band& Report::pageHeader(const QString& name, int height) {
    m_header = std::make_unique<Band>(Band::Kind::PageHeader, name, height);
    return *m_header;
}

Band& Report::pageFooter(const QString& name, int height) {
    m_footer = std::make_unique<Band>(Band::Kind::PageFooter, name, height);
    return *m_footer;
}

Band& Report::addSubDetail(const QString& name, int height, const DataSource* source,
                           const QString& headerName, int headerHeight) {
    m_groupHeaders.push_back(
        std::make_unique<Band>(Band::Kind::GroupHeader, headerName, headerHeight));
    m_details.push_back(std::make_unique<Band>(Band::Kind::SubDetail, name, height));
    Band& detail = *m_details.back();
    detail.dataSet = source;
    detail.header = m_groupHeaders.back().get();
    return detail;
}

std::vector<Band*> Report::bands() const {
    std::vector<Band*> out;
    if (m_header)
        out.push_back(m_header.get());
    for (const auto& d : m_details) {
        out.push_back(d->header);
        out.push_back(d.get());
    }
    if (m_footer)
        out.push_back(m_footer.get());
    return out;
}

Band* Report::band(const QString& name) const {
    for (Band* b : bands())
        if (b->name() == name)
            return b;
    return nullptr;
}

Element* Report::element(const QString& name) const {
    for (Band* b : bands())
        if (Element* e = b->element(name))
            return e;
    return nullptr;
}

Document Report::run() {
    Document doc;
    doc.title = title;
    doc.layout = pageLayout;
    Layouter out(doc, m_header.get(), m_footer.get(), frameWidth,
                 clock ? clock() : QDateTime::currentDateTime());

    Table* master = tableOf(dataSet);
    bool rows = master && master->isActive();
    if (rows) {
        master->first();
        rows = !master->eof();
    }
    if (!rows) {
        out.startPage();
        out.endPage();
        return doc;
    }
    // Each master row starts on a new page, since the page header shows that row.
    for (; !master->eof(); master->next()) {
        out.startPage();
        for (const auto& detail : m_details) {
            Table* items = tableOf(detail->dataSet);
            bool any = items && items->isActive();
            if (any) {
                items->first();
                any = !items->eof();
            }
            // The heading stays with the first row.
            out.reserve(detail->header->height() + (any ? detail->height() : 0));
            out.put(*detail->header);
            for (; any && !items->eof(); items->next())
                out.put(*detail);
        }
        out.endPage();
    }
    return doc;
}

void Report::preview(QWidget* parent) {
    Document doc = run();
    {
        ReportPreview window(std::move(doc), parent);
        window.exec();
    }
    emit afterPreview();
}

// --- output ----------------------------------------------------------------------------------

QSize Document::pageSize() const {
    const QRectF paint = layout.paintRect(QPageLayout::Inch);
    return QSize(qRound(paint.width() * kPixelsPerInch), qRound(paint.height() * kPixelsPerInch));
}

void Document::paintPage(QPainter& p, int index, const QRectF& target) const {
    const Page& page = pages.at(size_t(index));
    const QSize size = pageSize();
    p.save();
    p.translate(target.topLeft());
    p.scale(target.width() / size.width(), target.height() / size.height());
    p.setClipRect(QRect(QPoint(0, 0), size));
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    // Fonts are sized for 96 pixels per inch; the scale above does the rest on any device.
    const double fontScale = kPixelsPerInch / p.device()->logicalDpiY();
    for (const PlacedItem& item : page.items) {
        const QRectF r(item.rect);
        switch (item.kind) {
        case Element::Kind::Label:
        case Element::Kind::DBText:
        case Element::Kind::SysDateTime: {
            QFont f = item.font;
            f.setPointSizeF(item.font.pointSizeF() * fontScale);
            p.setFont(f);
            p.setPen(item.color);
            const int flags = Qt::AlignLeft | Qt::AlignTop |
                              (item.wordWrap ? Qt::TextWordWrap : Qt::TextSingleLine);
            p.drawText(r, flags, item.text);
            break;
        }
        case Element::Kind::Rectangle: {
            QPen pen(item.color, item.penWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            const double h = item.penWidth / 2.0;
            p.drawRect(r.adjusted(h, h, -h, -h));
            break;
        }
        case Element::Kind::FilledRectangle:
            p.fillRect(r, item.color);
            break;
        case Element::Kind::VLine: {
            const double x = r.left() + r.width() / 2.0;
            p.fillRect(QRectF(x - item.penWidth / 2.0, r.top(), item.penWidth, r.height()),
                       item.color);
            break;
        }
        case Element::Kind::HLine: {
            const double y = r.top() + r.height() / 2.0;
            p.fillRect(QRectF(r.left(), y - item.penWidth / 2.0, r.width(), item.penWidth),
                       item.color);
            break;
        }
        }
    }
    p.restore();
}

void Document::print(QPrinter& printer) const {
    printer.setPageLayout(layout);
    printer.setDocName(title);
    printer.setFullPage(false);
    QPainter p;
    if (!p.begin(&printer))
        throw Error(printer.outputFileName().isEmpty()
                        ? QStringLiteral("The printer cannot be used.")
                        : QStringLiteral("Cannot write %1.").arg(printer.outputFileName()));
    // The painter starts at the printable area; keep the page's proportions if a printer
    // needs wider margins than the layout asks for.
    const QRectF area = printer.pageLayout().paintRectPixels(printer.resolution());
    const QSize size = pageSize();
    const double scale = std::min(area.width() / size.width(), area.height() / size.height());
    const QRectF target(0, 0, size.width() * scale, size.height() * scale);
    int first = 0;
    int last = int(pages.size()) - 1;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        first = printer.fromPage() - 1;
        last = std::min(last, printer.toPage() - 1);
    }
    for (int i = first; i <= last; ++i) {
        if (i > first)
            printer.newPage();
        paintPage(p, i, target);
    }
    p.end();
}

void Document::savePdf(const QString& path) const {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setCreator(QStringLiteral("Quillnet"));
    print(printer);
}

} // namespace qn::report
