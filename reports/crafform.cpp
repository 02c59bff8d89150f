#include "crafform.h"

#include "appstate.h"
#include "datamodule.h"
#include "report.h"
#include "table.h"

#include <QApplication>
#include <QFontDatabase>

namespace qn {
namespace {

using report::Band;

QFont font(const char* family, double points, bool bold = false, bool underline = false) {
    QString name = QString::fromLatin1(family);
    // The old bitmap face is rarely installed; Arial's stand-in is closer than a generic sans.
    if (name == QLatin1String("MS Sans Serif") && !QFontDatabase::hasFamily(name))
        name = QStringLiteral("Arial");
    QFont f(name);
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setUnderline(underline);
    // Where the named face is missing, fall back to a face of the same kind.
    f.setStyleHint(qstrcmp(family, "Times New Roman") == 0 ? QFont::Serif : QFont::SansSerif);
    return f;
}

QFont arial(double points, bool bold = false, bool underline = false) {
    return font("Arial", points, bold, underline);
}

QFont times(double points, bool bold = false, bool underline = false) {
    return font("Times New Roman", points, bold, underline);
}

// A black bar carrying a white title, inside an outlined box.
void heading(Band& band, const QString& prefix, int boxHeight, const QString& title,
             int titleLeft) {
    band.addRectangle(prefix + "Frame", QRect(16, 8, 689, boxHeight));
    band.addFilledRectangle(prefix + "Bar", QRect(16, 5, 689, 35));
    band.addLabel(prefix + "Title", title, QRect(titleLeft, 9, 460, 28), times(18, true, true),
                  Qt::white);
}

void columnHeads(Band& band, const QString& prefix, int top, const QStringList& heads) {
    static const int lefts[] = {32, 96, 240, 376, 520};
    static const int widths[] = {60, 140, 132, 140, 180};
    for (int i = 0; i < 5; ++i)
        band.addLabel(prefix + QString::number(i + 1), heads[i],
                      QRect(lefts[i], top, widths[i], 17), arial(10));
}

void itemRow(Band& band, const DataSource* source, const QString& prefix,
             const QStringList& fields) {
    static const int lefts[] = {24, 96, 240, 376, 520};
    static const int widths[] = {65, 137, 129, 137, 193};
    for (int i = 0; i < 5; ++i)
        band.addDBText(prefix + fields[i], source, fields[i], QRect(lefts[i], 4, widths[i], 32),
                       arial(8), true);
}

} // namespace

void layOutCraf(report::Report& r, const DataModule& dm) {
    r.title = QStringLiteral("CRAF");
    r.dataSet = dm.SysSource;
    r.pageLayout = report::letterHalfInch();
    r.frameWidth = 2;

    Band& header = r.pageHeader(QStringLiteral("PageHeaderBand1"), 217);
    header.ruleBelow = 2;
    header.addRectangle("HeaderFrame", QRect(16, 8, 689, 193));
    header.addVLine("HeaderDivider", QRect(356, 40, 1, 161));
    header.addFilledRectangle("HeaderBar", QRect(16, 5, 689, 35));
    header.addLabel("HeaderTitle", "Computer Inventory Summary", QRect(202, 9, 480, 28),
                    times(18, true, true), Qt::white);

    header.addLabel("CName", {}, QRect(26, 43, 319, 54), times(18, true), Qt::black, true);
    header.addLabel("CAddress", {}, QRect(24, 104, 320, 17), times(10));
    header.addLabel("CCity", {}, QRect(24, 120, 166, 17), times(10));
    header.addLabel("CState", {}, QRect(192, 120, 33, 17), times(10));
    header.addLabel("CZip", {}, QRect(227, 120, 118, 17), times(10));
    header.addLabel("CPhone", {}, QRect(24, 136, 320, 17), times(10));
    header.addLabel("CFax", {}, QRect(24, 152, 320, 17), times(10));
    header.addLabel("CEmail", {}, QRect(24, 176, 320, 17), times(10));

    struct Entry {
        const char* caption;
        QPoint at;
        const char* field;
        QRect value;
        QFont captionFont;
        QFont valueFont;
    };
    const Entry entries[] = {
        {"SystemID :",
         {368, 48},
         "SYSID",
         {440, 48, 86, 19},
         arial(9, true),
         arial(12, true, true)},
        {"Security Level: ",
         {528, 48},
         "SECURITY",
         {624, 48, 76, 17},
         arial(9, true),
         arial(10, false, true)},
        {"First Name :",
         {368, 72},
         "USERFIRST",
         {448, 72, 100, 17},
         arial(9, true),
         arial(10, false, true)},
        {"Phone :", {552, 72}, "PHONE", {600, 72, 100, 17}, arial(9, true), arial(10, false, true)},
        {"Last Name :",
         {368, 96},
         "USERLAST",
         {448, 96, 100, 17},
         arial(9, true),
         arial(10, false, true)},
        {"Ext :",
         {552, 96},
         "PH_EXT",
         {600, 96, 100, 17},
         font("MS Sans Serif", 9, true),
         font("MS Sans Serif", 10, false, true)},
        {"Company :",
         {368, 128},
         "COMPANY",
         {440, 128, 260, 17},
         arial(9, true),
         arial(10, false, true)},
        {"Location :",
         {368, 152},
         "LOCATION",
         {440, 152, 260, 17},
         arial(9, true),
         arial(10, false, true)},
        {"Room # :",
         {368, 176},
         "ROOM",
         {440, 176, 108, 17},
         arial(9, true),
         arial(10, false, true)},
        {"Rev. Date :",
         {552, 176},
         "DATE",
         {616, 176, 84, 17},
         arial(9, true),
         arial(10, false, true)},
    };
    for (const Entry& e : entries) {
        const QString field = QString::fromLatin1(e.field);
        // Captions take the width they need, as far as the box's right edge.
        header.addLabel(field + "Label", QString::fromLatin1(e.caption),
                        QRect(e.at, QSize(700 - e.at.x(), 16)), e.captionFont);
        header.addDBText(field, dm.SysSource, field, e.value, e.valueFont);
    }

    Band& hw = r.addSubDetail(QStringLiteral("QRSubDetail1"), 40, dm.HWSource,
                              QStringLiteral("GroupHeaderBand1"), 68);
    hw.ruleBelow = 1;
    heading(*hw.header, "HW", 55, "Hardware Information", 242);
    hw.header->ruleBelow = 1;
    columnHeads(*hw.header, "HWHead", 40,
                {"SysID", "Description", "Manufacturer", "Model #", "Serial #"});
    itemRow(hw, dm.HWSource, "HW", {"SYSID", "DESC", "MANUF", "MODEL", "SERIALNUM"});

    Band& sw = r.addSubDetail(QStringLiteral("QRSubDetail2"), 44, dm.SWSource,
                              QStringLiteral("GroupHeaderBand2"), 68);
    sw.ruleBelow = 1;
    heading(*sw.header, "SW", 55, "Software Information", 242);
    sw.header->ruleBelow = 1;
    columnHeads(*sw.header, "SWHead", 42,
                {"SysID", "Description", "Manufacturer", "License Key", "Serial #"});
    itemRow(sw, dm.SWSource, "SW", {"SYSID", "DESC", "MANUF", "LICENSEKEY", "SERIALNUM"});

    Band& footer = r.pageFooter(QStringLiteral("PageFooterBand1"), 40);
    footer.ruleAbove = 2;
    footer.addSysDateTime("PrintedAt", QRect(576, 16, 140, 17), arial(10));
}

CrafForm::CrafForm(AppState& state, DataModule& dm, QWidget* parent)
    : QWidget(parent), m_state(state), m_dm(dm), m_report(std::make_unique<report::Report>()) {
    setObjectName(QStringLiteral("TForm14"));
    setWindowTitle(QStringLiteral("CRAF - Full Report"));
    m_report->setObjectName(QStringLiteral("QuickRep1"));
    layOutCraf(*m_report, dm);
    connect(m_report.get(), &report::Report::afterPreview, this, &CrafForm::QuickRep1AfterPreview);
}

CrafForm::~CrafForm() = default;

void CrafForm::setCompanyCaptions() {
    const SettingsRecord& s = m_state.settings;
    const std::pair<const char*, const QString*> captions[] = {
        {"CName", &s.CompanyName},   {"CAddress", &s.CompanyAddress}, {"CCity", &s.CompanyCity},
        {"CState", &s.CompanyState}, {"CZip", &s.CompanyZip},         {"CPhone", &s.CompanyPhone},
        {"CFax", &s.CompanyFax},     {"CEmail", &s.CompanyEmail},
    };
    for (const auto& [name, value] : captions)
        m_report->element(QString::fromLatin1(name))->caption = *value;
}

void CrafForm::SystemInfoCRAF(const QString& sysId) {
    m_dm.SysTableOpenClose(QStringLiteral("SysID"), DataModule::oneSystemFilter(sysId), true, true);
    previewReport();
}

void CrafForm::AddSystemCRAF(const QString& sysId) {
    m_dm.IPTableOpenClose(QStringLiteral("SysID"), QString(), false, true);
    m_dm.HWTableOpenClose(QStringLiteral("SysID"), QString(), false, true);
    m_dm.SWTableOpenClose(QStringLiteral("SysID"), QString(), false, true);
    m_dm.SysTableOpenClose(QStringLiteral("SysID"), DataModule::oneSystemFilter(sysId), true, true);
    previewReport();
}

void CrafForm::previewReport() {
    setCompanyCaptions();
    m_report->preview(QApplication::activeWindow());
}

void CrafForm::QuickRep1AfterPreview() {
    Table& systems = *m_dm.SysTable;
    const QString filter =
        m_byUserName && m_byUserName()
            ? DataModule::userNameFilter(systems.fieldText(QStringLiteral("UserFirst")),
                                         systems.fieldText(QStringLiteral("UserLast")))
            : DataModule::oneSystemFilter(systems.fieldText(QStringLiteral("SysID")));
    systems.setFilter(filter);
    systems.setFiltered(true);
}

} // namespace qn
