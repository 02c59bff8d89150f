// The CRAF report on paper: what a PDF of it says and shows, how its bands break across pages,
// the preview, and the tables the CRAF buttons leave behind.
#include "addsystemwindow.h"
#include "appstate.h"
#include "crafform.h"
#include "error.h"
#include "fixtures.h"
#include "report.h"
#include "reportpreview.h"
#include "ui_addsystemwindow.h"
#include "ui_reportpreview.h"
#include "ui_systeminfowindow.h"

#include <QImage>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <optional>

using namespace qn;
using report::Document;
using report::ReportPreview;

namespace {

const QDateTime kPrintedAt(QDate(2024, 3, 9), QTime(14, 5, 6));

struct Item {
    QString desc, manuf, model, serial;
};

struct Fixture : test::Inventory {
    Fixture() : Inventory("QN", false) {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        craf = std::make_unique<CrafForm>(program->state(), dm());
        craf->QuickRep1().clock = [] { return kPrintedAt; };
        program->TForm10().setReport([this](const QString& id) { craf->SystemInfoCRAF(id); });
        program->TForm18().setReport([this](const QString& id) { craf->AddSystemCRAF(id); });
        craf->setUserNameSearch([this] { return byUserName; });
    }
    void addSystem(const QString& id, const QString& first, const QString& last,
                   const QString& extra = {}) {
        const QString n = id.right(2);
        system(id, {{"USERFIRST", first},
                    {"USERLAST", last},
                    {"PHONE", "555-02" + n},
                    {"PH_EXT", "x" + n},
                    {"COMPANY", "Widgets " + extra},
                    {"LOCATION", "Building " + id.right(1)},
                    {"ROOM", "R" + id.right(3)},
                    {"SECURITY", "High"},
                    {"DATE", "20231231"}});
    }
    void addItems(Table* t, const QString& id, const QList<Item>& items) {
        const bool hw = t == dm().HWTable;
        for (const Item& i : items)
            item(hw ? "HARDWARE.DBF" : "SOFTWARE.DBF", id, i.desc,
                 {{"MANUF", i.manuf},
                  {hw ? "MODEL" : "LICENSEKEY", i.model},
                  {"SERIALNUM", i.serial}});
    }
    Document run() {
        craf->setCompanyCaptions();
        return craf->QuickRep1().run();
    }
    QString pdf(const Document& d, const QString& name = "craf.pdf") {
        const QString path = ws.path(name);
        d.savePdf(path);
        return path;
    }
    std::unique_ptr<CrafForm> craf;
    bool byUserName = false;
};

QByteArray runTool(const char* name, const QStringList& args) {
    const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
    if (path.isEmpty())
        qFatal("%s not found: install poppler-utils (tools/run-tests.sh does)", name);
    return test::run(path, args);
}

// The text of a PDF, page by page, without empty lines, each run of blanks folded into one.
QStringList pdfPages(const QString& path) {
    QStringList pages =
        QString::fromUtf8(runTool("pdftotext", {"-layout", path, "-"})).split(u'\f');
    pages.removeLast(); // what follows the last page's form feed
    for (QString& p : pages)
        p = p.replace(QRegularExpression("[ \t]+"), " ")
                .replace(QRegularExpression(" ?\n[\n ]*"), "\n")
                .trimmed();
    return pages;
}

// Whether every piece occurs in text in the order given.
bool inOrder(const QString& text, const QStringList& pieces) {
    qsizetype at = 0;
    for (const QString& p : pieces)
        if ((at = text.indexOf(p, at)) < 0)
            return false;
        else
            at += p.size();
    return true;
}

#define VERIFY_IN_ORDER(text, ...) QVERIFY2(inOrder(text, __VA_ARGS__), qPrintable(text))

const QStringList kHardwareHeads{"Hardware Information", "SysID Description Manufacturer Model # "
                                                         "Serial #"};
const QStringList kSoftwareHeads{"Software Information",
                                 "SysID Description Manufacturer License Key Serial #"};

const QStringList kCompany{"Acme",     "1 Main St", "Springfield IL 62701",
                           "555-0100", "555-0101",  "it@acme.example"};

// What a modal preview showed, caught while it is open; then the preview is closed.
struct Previewed {
    std::optional<Document> document; // none: no preview
    QString pageLabel;
    QString sysFilter;
    int sysRows = -1;
    QStringList openTables;
};

Previewed whilePreviewing(Fixture& f, const std::function<void()>& press,
                          const std::function<void(ReportPreview&)>& inside = {}) {
    auto seen = std::make_shared<Previewed>();
    QTimer::singleShot(0, [&f, seen, inside] {
        auto* w = qobject_cast<ReportPreview*>(QApplication::activeModalWidget());
        if (!w)
            return;
        seen->document = w->document();
        seen->pageLabel = w->ui().PageLabel->text();
        Table& sys = *f.dm().SysTable;
        seen->sysFilter = sys.filtered() ? sys.filter() : QString();
        seen->sysRows = sys.recordCount();
        for (Table* t : {f.dm().IPTable, f.dm().HWTable, f.dm().SWTable})
            if (t->isActive() && !t->filtered() && t->indexName().compare("SysID") == 0)
                seen->openTables << t->objectName();
        if (inside)
            inside(*w);
        w->ui().CloseButton->click();
    });
    press();
    return *seen;
}

QList<Item> numbered(const QString& prefix, int n) {
    QList<Item> items;
    for (int i = 1; i <= n; ++i)
        items.append({QString("%1 item %2").arg(prefix).arg(i), "Maker", "M-" + QString::number(i),
                      QString("%1-%2").arg(prefix).arg(i, 3, 10, QChar('0'))});
    return items;
}

} // namespace

class TestReports : public QObject {
    Q_OBJECT
private slots:
    // One system's page from System Info's button: its texts in order, as a viewer draws it,
    // its fonts; a system without items, and empty company lines.
    void printedPage() {
        Fixture f;
        f.addSystem("QN0001", "Pat", "Lee", "Inc");
        f.addSystem("QN0007", "Ann", "Bo");
        f.addItems(f.dm().HWTable, "QN0001",
                   {{"Disk", "Seagate", "ST-1", "HD-11"}, {"Mouse", "Logi", "MX", "MS-22"}});
        f.addItems(f.dm().SWTable, "QN0001",
                   {{"Editor", "Vim Co", "KEY-1", "SW-1"},
                    {"Office", "Suite Co", "KEY-2", "SW-2"},
                    {"Backup", "Safe Co", "KEY-3", "SW-3"}});
        f.handOver(DataModule::oneSystemFilter("QN0001"));
        const Previewed seen =
            whilePreviewing(f, [&] { f.program->TForm10().ui().CRAFButton->click(); });
        QVERIFY(seen.document);
        QCOMPARE(seen.pageLabel, QString("1 page"));
        const QString path = f.pdf(*seen.document);
        const QStringList pages = pdfPages(path);
        QCOMPARE(pages.size(), 1);
        // The company block and the system block share lines; each is read in its own order.
        VERIFY_IN_ORDER(pages[0], QStringList{"Computer Inventory Summary"} + kCompany);
        VERIFY_IN_ORDER(pages[0],
                        (QStringList{"SystemID : QN0001", "Security Level: High",
                                     "First Name : Pat", "Phone : 555-0201", "Last Name : Lee",
                                     "Ext : x01", "Company : Widgets Inc", "Location : Building 1",
                                     "Room # : R001", "Rev. Date : 12/31/2023"}));
        VERIFY_IN_ORDER(
            pages[0],
            kHardwareHeads +
                QStringList{"QN0001 Disk Seagate ST-1 HD-11", "QN0001 Mouse Logi MX MS-22"} +
                kSoftwareHeads +
                QStringList{"QN0001 Editor Vim Co KEY-1 SW-1", "QN0001 Office Suite Co KEY-2 SW-2",
                            "QN0001 Backup Safe Co KEY-3 SW-3", "3/9/2024 2:05:06 PM"});

        // As a PDF viewer draws it (half-inch margin, 96 dpi): the frame, the page header's bar,
        // outline, divider and rule, the hardware heading's bar 5 pixels into its band, the
        // footer's rule: black (1) where drawn, white (0) beside.
        runTool("pdftoppm", {"-png", "-r", "96", "-aa", "no", "-aaVector", "no", "-f", "1", "-l",
                             "1", "-singlefile", path, f.ws.path("page")});
        const QImage page(f.ws.path("page.png"));
        QCOMPARE(page.size(), QSize(816, 1056));
        const auto gray = [&](int x, int y) { return qGray(page.pixel(48 + x, 48 + y)); };
        for (auto [x, y, black] : std::initializer_list<std::tuple<int, int, bool>>{
                 {0, 500, 1},   {1, 500, 1},   {719, 500, 1}, {718, 500, 1}, {300, 0, 1},
                 {300, 959, 1}, {20, 6, 1},    {700, 38, 1},  {100, 20, 1},  {16, 120, 1},
                 {704, 120, 1}, {300, 200, 1}, {356, 60, 1},  {356, 190, 1}, {300, 215, 1},
                 {300, 216, 1}, {20, 223, 1},  {20, 256, 1},  {16, 267, 1},  {300, 920, 1},
                 {300, 921, 1}, {2, 500, 0},   {717, 500, 0}, {300, 2, 0},   {300, 957, 0},
                 {-4, 500, 0},  {300, -4, 0},  {20, 3, 0},    {10, 20, 0},   {710, 20, 0},
                 {17, 120, 0},  {703, 120, 0}, {300, 203, 0}, {354, 60, 0},  {358, 60, 0},
                 {300, 213, 0}, {20, 220, 0},  {20, 259, 0},  {300, 923, 0}})
            QVERIFY2(black ? gray(x, y) < 64 : gray(x, y) > 192,
                     qPrintable(QString("%1,%2").arg(x).arg(y)));
        // Times New Roman bold for titles and the company name, Times New Roman for the company
        // lines, Arial for the rest: their metric-compatible stand-ins.
        const QString fonts = QString::fromUtf8(runTool("pdffonts", {path}));
        for (const char* face :
             {"LiberationSerif-Bold", "LiberationSerif ", "LiberationSans-Bold", "LiberationSans "})
            QVERIFY2(fonts.contains(QLatin1String(face)), qPrintable(face + ("\n" + fonts)));

        // A system without items: the headings, then nothing before the footer's date.
        f.handOver(DataModule::oneSystemFilter("QN0007"));
        const Document full = f.run();
        const QString text = pdfPages(f.pdf(full))[0];
        QCOMPARE(text.mid(text.indexOf(kHardwareHeads[0])),
                 (kHardwareHeads + kSoftwareHeads + QStringList{"3/9/2024 2:05:06 PM"}).join('\n'));
        // Empty company lines print as empty captions; every other pixel stays as it was.
        f.program->state().settings = SettingsRecord{};
        const Document blank = f.run();
        QVERIFY(!pdfPages(f.pdf(blank, "blank.pdf"))[0].contains("Acme"));
        const auto image = [](const Document& d) {
            QImage img(720, 960, QImage::Format_RGB32);
            img.fill(Qt::white);
            QPainter p(&img);
            d.paintPage(p, 0, QRectF(0, 0, 720, 960));
            return img;
        };
        QImage a = image(full), b = image(blank);
        QVERIFY(a != b);
        for (QImage* img : {&a, &b}) // the company lines: inside the outline, left of the divider
            QPainter(img).fillRect(QRect(17, 41, 339, 159), Qt::white);
        QVERIFY(a == b);
    }

    // Long lists break across pages under the same header and footer; the preview pages,
    // zooms, saves and prints them.
    void longReportPreviewedSavedAndPrinted() {
        Fixture f;
        f.addSystem("QN0003", "Lou", "Ray");
        f.addItems(f.dm().HWTable, "QN0003", numbered("HW", 23));
        f.addItems(f.dm().SWTable, "QN0003", numbered("SW", 20));
        f.handOver(DataModule::oneSystemFilter("QN0003"));
        const QString saved = f.ws.path("saved.pdf");
        bool printDialogShown = false;
        const Previewed seen = whilePreviewing(
            f, [&] { f.craf->SystemInfoCRAF("QN0003"); },
            [&](ReportPreview& w) {
                QCOMPARE(w.windowTitle(), QString("Print Preview - CRAF"));
                QCOMPARE(w.ui().PageLabel->text(), QString("3 pages"));
                // The pages are on the page view, one under the other, and follow the zoom.
                QWidget* view = w.ui().PageArea->widget();
                QVERIFY(view->height() > 3 * 1056 && view->width() > 816);
                w.ui().ZoomInButton->click();
                QVERIFY(w.ui().ZoomLabel->text() == "125%" && view->width() > 1020);
                w.ui().ZoomOutButton->click();
                w.ui().ZoomOutButton->click();
                QCOMPARE(w.ui().ZoomLabel->text(), QString("80%"));
                w.setPdfFileChooser([&](QWidget*) { return saved; });
                w.ui().SaveButton->click();
                w.setPdfFileChooser([](QWidget*) { return QString(); });
                w.ui().SaveButton->click(); // cancelled: nothing written, no error
                QTimer::singleShot(0, [&] {
                    if (auto* d = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget())) {
                        printDialogShown = true;
                        d->reject();
                    }
                });
                w.ui().PrintButton->click();
            });
        QVERIFY(seen.document && printDialogShown);
        QVERIFY(MessageService::takeShown().isEmpty());
        const QStringList pages = pdfPages(saved);
        QCOMPARE(pages.size(), 3);
        QString all;
        for (const QString& p : pages) {
            VERIFY_IN_ORDER(p, (QStringList{"Computer Inventory Summary", "SystemID : QN0003",
                                            "Room # : R003", "2:05:06 PM"}));
            all += p + '\n';
        }
        // Every row once, in order, whole.
        QStringList rows;
        for (const Item& i : numbered("HW", 23) + numbered("SW", 20))
            rows << "QN0003 " + i.desc + " Maker " + i.model + " " + i.serial;
        VERIFY_IN_ORDER(all, rows);
        for (const QString& r : rows)
            QCOMPARE(all.count(r.section(' ', -1) + '\n'), 1);
        QCOMPARE(all.count("Hardware Information") + 10 * all.count("Software Information"), 11);
        // No band crosses into the page header or the footer.
        for (const report::Page& page : seen.document->pages)
            for (const report::PlacedItem& item : page.items)
                if (item.kind == report::Element::Kind::DBText && item.rect.top() > 217)
                    QVERIFY(item.rect.bottom() < 960 - 40);

        // Printing goes through the same pages; a page range prints only those.
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(f.ws.path("printed.pdf"));
        printer.setPrintRange(QPrinter::PageRange);
        printer.setFromTo(2, 2);
        seen.document->print(printer);
        QCOMPARE(pdfPages(f.ws.path("printed.pdf")), QStringList{pages[1]});
        // A PDF that cannot be written raises the error the application shows.
        QVERIFY_THROWS_EXCEPTION(Error, seen.document->savePdf(f.ws.path("no/such/dir/x.pdf")));
    }

    // Over a user's systems (quotes in the name) the report has a page per system with its own
    // items. From System Info after a search by user name the button reports the current system
    // and leaves the user's systems; after any other criterion, the reported system alone.
    void userSystems() {
        Fixture f;
        f.addSystem("QN0001", "Sean", "O'Brien");
        f.addSystem("QN0002", "Sean", "OBrien");
        f.addSystem("QN0003", "Sean", "O'Brien");
        f.addSystem("QN0004", "Dee", "O'Brien");
        f.addItems(f.dm().HWTable, "QN0001", {{"Disk", "A", "B", "S-1"}});
        f.addItems(f.dm().HWTable, "QN0002", {{"Disk", "A", "B", "S-2"}});
        f.addItems(f.dm().SWTable, "QN0003", {{"Tool", "A", "B", "S-3"}});
        SystemInfoWindow& info = f.handOver(DataModule::userNameFilter("Sean", "O'Brien"));
        const QStringList pages = pdfPages(f.pdf(f.run()));
        QCOMPARE(pages.size(), 2);
        VERIFY_IN_ORDER(pages[0], (QStringList{"SystemID : QN0001", "Hardware Information",
                                               "QN0001 Disk A B S-1", "Software Information"}));
        VERIFY_IN_ORDER(pages[1], (QStringList{"SystemID : QN0003", "Hardware Information",
                                               "Software Information", "QN0003 Tool A B S-3"}));
        QVERIFY2(!pages[0].contains("QN0003") && !pages[1].contains("QN0001") &&
                     !(pages[0] + pages[1]).contains("QN0002"),
                 qPrintable(pages.join('\n')));

        Table& sys = *f.dm().SysTable;
        sys.first();
        sys.next();
        f.byUserName = true;
        int raised = 0;
        connect(&f.craf->QuickRep1(), &report::Report::afterPreview, this, [&] { ++raised; });
        Previewed seen = whilePreviewing(f, [&] { test::user::click(info.ui().CRAFButton); });
        QVERIFY(seen.document);
        QCOMPARE(seen.sysFilter, DataModule::oneSystemFilter("QN0003"));
        QCOMPARE(seen.sysRows, 1);
        QVERIFY(pdfPages(f.pdf(*seen.document))[0].contains("Last Name : O'Brien"));
        QCOMPARE(raised, 1);
        QCOMPARE(sys.filter(), DataModule::userNameFilter("Sean", "O'Brien"));
        QCOMPARE(test::fieldValues(sys, "SysID"), (QStringList{"QN0001", "QN0003"}));
        sys.first();
        f.byUserName = false;
        sys.next();
        seen = whilePreviewing(f, [&] { test::user::click(info.ui().CRAFButton); });
        QVERIFY(seen.document);
        QCOMPARE(sys.filter(), DataModule::oneSystemFilter("QN0003"));
        QCOMPARE(test::fieldValues(sys, "SysID"), (QStringList{"QN0003"}));
        QCOMPARE(raised, 2);
        QVERIFY(MessageService::takeShown().isEmpty());
    }

    void addSystemButtonBeforeAndAfterSave() {
        Fixture f;
        f.addSystem("QN0001", "Pat", "Lee");
        f.addItems(f.dm().HWTable, "QN0001", {{"Disk", "A", "B", "OLD-1"}});
        AddSystemWindow& w = f.program->TForm18();
        w.show();
        QCOMPARE(w.systemId(), QString("QN0002"));
        // An item typed for the new system before Save is stored already.
        f.addItems(f.dm().HWTable, "QN0002", {{"Keyboard", "K", "L", "NEW-1"}});
        f.byUserName = true;
        Previewed seen = whilePreviewing(f, [&] { w.ui().CRAFButton->click(); });
        QVERIFY(seen.document);
        QCOMPARE(seen.sysFilter, DataModule::oneSystemFilter("QN0002"));
        QCOMPARE(seen.sysRows, 0);
        QCOMPARE(seen.openTables, (QStringList{"IPTable", "HWTable", "SWTable"}));
        QCOMPARE(int(seen.document->pages.size()), 1);
        QString page = pdfPages(f.pdf(*seen.document))[0];
        // The system block has its captions and no values, and no item prints.
        VERIFY_IN_ORDER(page, (QStringList{"SystemID : Security Level:\n", "First Name : Phone :\n",
                                           "Last Name : Ext :\n", "Company :\n", "Location :\n",
                                           "Room # : Rev. Date :\n"}));
        QVERIFY2(!page.contains("NEW-1") && !page.contains("OLD-1") && !page.contains("QN000"),
                 qPrintable(page));
        QVERIFY(f.dm().SysTable->isActive() && f.dm().SysTable->filtered());
        QCOMPARE(f.dm().SysTable->recordCount(), 0);

        // Saved, the same button reports the new system with its items.
        namespace user = test::user;
        QApplication::setActiveWindow(&w);
        user::fill(w.ui().UserFirstEdit, "Ida");
        user::fill(w.ui().UserLastEdit, "Moe");
        user::fill(w.ui().IP1, "10.0.0.3");
        user::click(w.ui().SaveButton);
        QVERIFY(MessageService::takeShown().isEmpty());
        seen = whilePreviewing(f, [&] { user::click(w.ui().CRAFButton); });
        QCOMPARE(seen.sysRows, 1);
        page = pdfPages(f.pdf(*seen.document))[0];
        VERIFY_IN_ORDER(page, (QStringList{"SystemID : QN0002", "First Name : Ida",
                                           "Last Name : Moe", "Hardware Information",
                                           "QN0002 Keyboard K L NEW-1", "Software Information"}));
        QVERIFY(!page.contains("OLD-1"));
        QCOMPARE(test::fieldValues(*f.dm().SysTable, "SysID"), (QStringList{"QN0002"}));

        // A table file gone from the database folder (a filter no text can hold is refused the
        // same way, from the data module): the error box, and no preview.
        int raised = 0;
        connect(&f.craf->QuickRep1(), &report::Report::afterPreview, this, [&] { ++raised; });
        f.dm().HWTable->close();
        for (const QString& name : QDir(f.ws.path("db")).entryList({"hardware.*"}, QDir::Files))
            QVERIFY(QFile::remove(f.ws.path("db/" + name)));
        seen = whilePreviewing(f, [&] { user::click(w.ui().CRAFButton); });
        QVERIFY(!seen.document);
        const auto shown = MessageService::takeShown();
        QVERIFY2(shown.size() == 1 && shown[0].kind == MessageService::Kind::Error &&
                     shown[0].text.contains("HARDWARE", Qt::CaseInsensitive),
                 qPrintable(shown.value(0).text));
        QCOMPARE(raised, 0);
        QTest::qWait(10); // let the pending preview watchers run and find nothing
    }
};

QN_GUI_TEST_MAIN(TestReports)
#include "test_reports.moc"
