#include "searchwindow.h"

#include "datamodule.h"
#include "guard.h"
#include "messageservice.h"
#include "table.h"
#include "ui_searchwindow.h"

#include <QButtonGroup>
#include <QCompleter>
#include <QLineEdit>
#include <QScreen>
#include <QShowEvent>
#include <QStringListModel>
#include <algorithm>

namespace qn {
namespace {

struct CriterionInfo {
    const char* prompt;
    const char* file;
    const char* listTag;
};

const CriterionInfo kCriteria[] = {
    {"Enter IP Address to search for...", "IP.dbf", "IP"},
    {"Enter Alias to search for...", "IP.dbf", "Alias"},
    {"Enter Office Number to search for...", "Systems.dbf", "Office"},
    {"Enter Computer Name to search for...", "IP.dbf", "Computer"},
    {"Enter User Name to search for...", "Systems.dbf", "User"},
    {"Enter System ID to search for...", "Systems.dbf", "SysID"},
};

const char* const kFindTag[] = {"IP", nullptr, "Office", "Computer", "User", "SysID"};

} // namespace

SearchWindow::SearchWindow(DataModule& dm, QWidget* mainWindow, QWidget* systemInfo,
                           QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::SearchWindow>()), m_dm(dm), m_main(mainWindow),
      m_systemInfo(systemInfo), m_items(new QButtonGroup(this)) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(size()); // as the form lays it out
    QRadioButton* const radios[] = {m_ui->SearchItem0, m_ui->SearchItem1, m_ui->SearchItem2,
                                    m_ui->SearchItem3, m_ui->SearchItem4, m_ui->SearchItem5};
    for (int i = 0; i < 6; ++i)
        m_items->addButton(radios[i], i);
    m_ui->SearchList->setInsertPolicy(QComboBox::NoInsert);
    // A list of every stored value is filled and emptied whole: a string list does both in
    // one step, where an item per entry costs an allocation each.
    m_ui->SearchList->setModel(new QStringListModel(m_ui->SearchList));
    // Completion is offered in a list; the box holds only what was typed or picked, so Find
    // never looks up a value the user did not enter.
    m_ui->SearchList->completer()->setCompletionMode(QCompleter::PopupCompletion);
    connect(m_items, &QButtonGroup::idClicked, this,
            handler(this, &SearchWindow::SearchGroupClick));
    connect(m_ui->FindButton, &QPushButton::clicked, this,
            handler(this, &SearchWindow::FindButtonClick));
    connect(m_ui->CancelButton, &QPushButton::clicked, this,
            handler(this, &SearchWindow::CancelButtonClick));
    chooseNone();
}

SearchWindow::~SearchWindow() = default;

QString SearchWindow::addressKey(const QString& value) {
    QString key = value;
    for (int i = 0; i < 3; ++i) {
        qsizetype dot = key.indexOf(u'.');
        if (dot < 0)
            break;
        key.remove(dot, 1);
    }
    return key;
}

QPair<QString, QString> SearchWindow::nameHalves(const QString& value) {
    qsizetype space = value.indexOf(u' ');
    if (space < 0)
        return {QString(), value.left(99)};
    return {value.left(space), value.mid(space + 1, 99)};
}

void SearchWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
        runHandler([this] { FormShow(); });
    }
}

void SearchWindow::chooseNone() {
    m_criterion = None;
    m_items->setExclusive(false);
    for (QAbstractButton* b : m_items->buttons())
        b->setChecked(false);
    m_items->setExclusive(true);
    m_ui->Label1->hide();
    m_ui->SearchList->hide();
    m_ui->SearchList->clear();
}

void SearchWindow::FormShow() {
    chooseNone();
}

void SearchWindow::SearchGroupClick() {
    m_criterion = Criterion(m_items->checkedId());
    if (m_criterion == None)
        return;
    const CriterionInfo& c = kCriteria[m_criterion];
    QString previousName = QStringLiteral("ZZZZ");
    m_ui->SearchList->clear();
    m_ui->Label1->setText(QLatin1String(c.prompt));
    m_ui->Label1->show();
    m_ui->SearchList->show();

    QStringList values;
    Table& t = *m_dm.DummyTable;
    t.setTableName(QLatin1String(c.file));
    m_dm.DummyTableOpenClose(QLatin1String(c.listTag), QString(), false, true);
    for (t.first(); !t.eof(); t.next()) {
        auto field = [&t](const char* name) { return t.fieldText(QLatin1String(name)); };
        switch (m_criterion) {
        case IPAddress:
            values << field("IP1") + u'.' + field("IP2") + u'.' + field("IP3") + u'.' +
                          field("IP4");
            break;
        case Alias:
            for (const char* a : {"Alias1", "Alias2", "Alias3", "Alias4"})
                if (!field(a).isEmpty())
                    values << field(a);
            break;
        case OfficeNumber:
            if (!field("Room").isEmpty())
                values << field("Room");
            break;
        case ComputerName:
            if (!field("Computer").isEmpty())
                values << field("Computer");
            break;
        case UserName: {
            const QString name = field("UserFirst") + u' ' + field("UserLast");
            if (name != previousName)
                values << name;
            previousName = name;
            break;
        }
        case SysID:
            if (!field("SysID").isEmpty())
                values << field("SysID");
            break;
        case None:
            break;
        }
    }
    m_dm.DummyTableOpenClose(QString(), QString(), false, false);
    // The list keeps its entries sorted, ignoring letter case.
    std::stable_sort(values.begin(), values.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    static_cast<QStringListModel*>(m_ui->SearchList->model())->setStringList(values);
    m_ui->SearchList->setCurrentIndex(-1);
    m_ui->SearchList->clearEditText();
}

bool SearchWindow::seek(const QString& file, const QString& tag, const QStringList& fields,
                        const QStringList& values, const QStringList& octets) {
    Table& t = *m_dm.DummyTable;
    t.setTableName(file);
    m_dm.DummyTableOpenClose(tag, QString(), false, true);
    // A value longer than its field cannot be stored there, so no row holds it.
    for (int i = 0; i < fields.size(); ++i)
        if (values[i].size() > t.fieldWidth(fields[i]))
            return false;
    t.setKey();
    for (int i = 0; i < fields.size(); ++i)
        t.setFieldText(fields[i], values[i]);
    if (!t.gotoKey())
        return false;
    if (octets.size() != 4)
        return true;
    // Addresses sharing a key (1.11.1.1 and 11.1.1.1) are told apart by their octets.
    auto same = [&t, &octets] {
        for (int i = 0; i < 4; ++i)
            if (t.fieldText(QStringLiteral("IP%1").arg(i + 1)) != octets[i])
                return false;
        return true;
    };
    for (; !t.eof() && t.fieldText(fields[0]) == values[0]; t.next())
        if (same())
            return true;
    return false;
}

void SearchWindow::FindButtonClick() {
    // Emptied once the search is done; kept, with the typed value, when it found nothing.
    struct EmptyList {
        QComboBox* list;
        bool keep = false;
        ~EmptyList() {
            if (!keep)
                list->clear();
        }
    } emptyList{m_ui->SearchList};

    m_dm.IPTable->setDatabaseName(QStringLiteral("IP"));
    m_dm.IPTable->setTableName(QStringLiteral("IP.dbf"));
    m_dm.IPTableOpenClose(QStringLiteral("Type"), QString(), false, true);
    if (m_criterion == None) {
        MessageService::information(this, QStringLiteral("You MUST select a search criteria!"));
        return;
    }
    const QString value = m_ui->SearchList->currentText();
    Table& t = *m_dm.DummyTable;

    if (m_criterion == Alias) {
        for (const char* a : {"Alias1", "Alias2", "Alias3", "Alias4"}) {
            if (seek(QStringLiteral("IP.dbf"), QLatin1String(a), {QLatin1String(a)}, {value})) {
                handOver(DataModule::oneSystemFilter(t.fieldText(QStringLiteral("SysID"))));
                return;
            }
            m_dm.DummyTableOpenClose(QString(), QString(), false, false);
        }
        MessageService::information(this, QStringLiteral("Cannot that Alias!"));
        emptyList.keep = true;
        retry();
        return;
    }

    QStringList fields, values, octets;
    switch (m_criterion) {
    case IPAddress:
        fields = {QStringLiteral("IPString")};
        values = {addressKey(value)};
        octets = value.split(u'.');
        break;
    case OfficeNumber:
        fields = {QStringLiteral("Room")};
        values = {value};
        break;
    case ComputerName:
        fields = {QStringLiteral("Computer")};
        values = {value};
        break;
    case UserName: {
        const auto [first, last] = nameHalves(value);
        fields = {QStringLiteral("UserFirst"), QStringLiteral("UserLast")};
        values = {first, last};
        break;
    }
    default:
        fields = {QStringLiteral("SysID")};
        values = {value};
        break;
    }
    if (!seek(QLatin1String(kCriteria[m_criterion].file), QLatin1String(kFindTag[m_criterion]),
              fields, values, octets)) {
        m_dm.DummyTableOpenClose(QString(), QString(), false, false);
        MessageService::information(this, QStringLiteral("System Not Found!"));
        emptyList.keep = true;
        retry();
        return;
    }
    const QString filter =
        m_criterion == UserName
            ? DataModule::userNameFilter(t.fieldText(QStringLiteral("UserFirst")),
                                         t.fieldText(QStringLiteral("UserLast")))
            : DataModule::oneSystemFilter(t.fieldText(QStringLiteral("SysID")));
    handOver(filter);
}

// Nothing found: the criterion and the typed value stay, selected, for the user to correct.
void SearchWindow::retry() {
    m_ui->SearchList->setFocus(Qt::TabFocusReason);
    m_ui->SearchList->lineEdit()->selectAll();
}

void SearchWindow::handOver(const QString& systemsFilter) {
    m_dm.DummyTableOpenClose(QString(), QString(), false, false);
    m_dm.IPTableOpenClose(QStringLiteral("SysID"), QString(), false, true);
    m_dm.SysTableOpenClose(QStringLiteral("SysID"), systemsFilter, true, true);
    m_dm.HWTableOpenClose(QStringLiteral("SysID"), QString(), false, true);
    m_dm.SWTableOpenClose(QStringLiteral("SysID"), QString(), false, true);
    // The boxes of System Info put their rows into editing when typed into; holding every row
    // in editing from here would lock them against other administrators for no gain.
    m_systemInfo->show();
    hide();
}

void SearchWindow::CancelButtonClick() {
    m_dm.DummyTableOpenClose(QString(), QString(), false, false);
    m_dm.IPTableOpenClose(QString(), QString(), false, false);
    m_dm.SysTableOpenClose(QString(), QString(), false, false);
    m_dm.HWTableOpenClose(QString(), QString(), false, false);
    m_dm.SWTableOpenClose(QString(), QString(), false, false);
    chooseNone();
    m_main->show();
    hide();
}

void SearchWindow::reject() {
    CancelButtonClick();
}

} // namespace qn
