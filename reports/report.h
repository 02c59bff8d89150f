#pragma once

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QObject>
#include <QPageLayout>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QPainter;
class QPagedPaintDevice;
class QPrinter;
class QWidget;

namespace qn {

class DataSource;
class Table;

namespace report {

/// Report positions are pixels at 96 per inch, measured from the top left of the printable
/// area; painting scales them to the device.
constexpr double kPixelsPerInch = 96.0;

/// One printable item of a band.
struct Element {
    enum class Kind { Label, DBText, SysDateTime, Rectangle, FilledRectangle, VLine, HLine };
    Kind kind = Kind::Label;
    QString name;
    QRect geometry;
    QFont font;
    QColor color = Qt::black;
    bool wordWrap = false;
    int penWidth = 1;
    /// Label: the text printed; may be changed before each run.
    QString caption;
    /// DBText: the field whose display text is printed, from the current row of the source.
    const DataSource* source = nullptr;
    QString field;
};

/// A horizontal strip of the page with its elements.
class Band {
public:
    enum class Kind { PageHeader, PageFooter, GroupHeader, SubDetail };

    Band(Kind kind, QString name, int height);

    Kind kind() const { return m_kind; }
    const QString& name() const { return m_name; }
    int height() const { return m_height; }
    /// A full-width line of this width along the band's top or bottom edge (0: none).
    int ruleAbove = 0;
    int ruleBelow = 0;

    /// SubDetail: the table walked from its first row to its end, once per master row.
    const DataSource* dataSet = nullptr;
    /// SubDetail: printed before the rows, also when there are none, and kept on the page of
    /// the first row.
    Band* header = nullptr;

    Element& addLabel(const QString& name, const QString& caption, QRect geometry,
                      const QFont& font, QColor color = Qt::black, bool wordWrap = false);
    Element& addDBText(const QString& name, const DataSource* source, const QString& field,
                       QRect geometry, const QFont& font, bool wordWrap = false);
    Element& addSysDateTime(const QString& name, QRect geometry, const QFont& font);
    Element& addRectangle(const QString& name, QRect geometry, int penWidth = 1);
    Element& addFilledRectangle(const QString& name, QRect geometry, QColor color = Qt::black);
    /// A line down the middle of geometry.
    Element& addVLine(const QString& name, QRect geometry, int penWidth = 1);

    const std::vector<std::unique_ptr<Element>>& elements() const { return m_elements; }
    Element* element(const QString& name) const;

private:
    Element& add(Element e);

    Kind m_kind;
    QString m_name;
    int m_height;
    std::vector<std::unique_ptr<Element>> m_elements;
};

/// What one element became on a page: its text resolved, its place in page pixels.
struct PlacedItem {
    Element::Kind kind = Element::Kind::Label;
    QRect rect;
    QFont font;
    QColor color;
    bool wordWrap = false;
    int penWidth = 1;
    QString text;
};

struct Page {
    std::vector<PlacedItem> items;
};

/// The pages of one run; independent of the tables once made.
class Document {
public:
    QString title;
    QPageLayout layout;
    std::vector<Page> pages;

    /// The printable area in report pixels.
    QSize pageSize() const;
    /// Paints one page so that the printable area fills target (device coordinates).
    void paintPage(QPainter& painter, int index, const QRectF& target) const;
    /// Prints every page; the device gets this document's page layout. Throws Error when the
    /// device cannot be painted on (a PDF file that cannot be written).
    void print(QPrinter& printer) const;
    /// Writes the pages as a PDF file through a PDF printer.
    void savePdf(const QString& path) const;
};

/// A banded report over a master table: one pass per master row, from the first row to the end,
/// each pass on new pages. Page header and footer print on every page, the first and the last
/// included; when the master has no row one page with both still prints.
class Report : public QObject {
    Q_OBJECT
public:
    explicit Report(QObject* parent = nullptr);
    ~Report() override;

    QString title;
    /// The master data set; a closed or empty one gives one page with no detail.
    const DataSource* dataSet = nullptr;
    QPageLayout pageLayout;
    /// A frame of this width around the printable area (0: none).
    int frameWidth = 0;
    /// The date and time the SysDateTime elements print (the current time when empty).
    std::function<QDateTime()> clock;

    Band& pageHeader(const QString& name, int height);
    Band& pageFooter(const QString& name, int height);
    /// A detail band over dataSet, with its own header band; printed in the order added.
    Band& addSubDetail(const QString& name, int height, const DataSource* dataSet,
                       const QString& headerName, int headerHeight);

    /// Every band in printing order.
    std::vector<Band*> bands() const;
    Band* band(const QString& name) const;
    /// The first element of that name in any band.
    Element* element(const QString& name) const;

    /// Walks the tables and lays the pages out. Table errors propagate.
    Document run();
    /// Runs the report, shows the pages in the preview window until it is closed, then emits
    /// afterPreview.
    void preview(QWidget* parent = nullptr);

signals:
    void afterPreview();

private:
    std::unique_ptr<Band> m_header;
    std::unique_ptr<Band> m_footer;
    std::vector<std::unique_ptr<Band>> m_details;
    std::vector<std::unique_ptr<Band>> m_groupHeaders;
};

/// US Letter portrait with margins of half an inch on every side.
QPageLayout letterHalfInch();

} // namespace report
} // namespace qn
