#include "addsystemwindow.h"

#include "appstate.h"
#include "datamodule.h"
#include "guard.h"
#include "messageservice.h"
#include "recording.h"
#include "statusnotes.h"
#include "systemrules.h"
#include "table.h"
#include "ui_addsystemwindow.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QRegularExpression>
#include <QShowEvent>
#include <QStandardItemModel>
#include <memory>

namespace qn {
namespace {

const QString kAddressTaken = QStringLiteral("IP Address already exists! Please choose another");

const QStringList& kHwFields = systemrules::hardwareFields();
const QStringList& kSwFields = systemrules::softwareFields();

} // namespace

AddSystemWindow::AddSystemWindow(AppState& state, DataModule& dm, QWidget* mainWindow,
                                 QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::AddSystemWindow>()), m_state(state), m_dm(dm),
      m_main(mainWindow) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint |
                   Qt::WindowMinimizeButtonHint);
    QFont big = m_ui->Label16->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    m_ui->Label16->setFont(big);
    m_ui->Label16->setAlignment(Qt::AlignCenter);
    m_ui->ComputerType->addItem(QString());
    m_ui->ComputerType->addItems(systemrules::machineTypes());
    for (QLineEdit* box : {m_ui->IP1, m_ui->IP2, m_ui->IP3})
        box->setMaxLength(3);
    m_ui->IP4->setMaxLength(3);
    m_ui->DBGrid2->bind(dm.HWTable);
    m_ui->DBGrid1->bind(dm.SWTable);
    m_heldHw.model = new QStandardItemModel(this);
    m_heldSw.model = new QStandardItemModel(this);
    for (QLineEdit* box : {m_ui->IP1, m_ui->IP2, m_ui->IP3, m_ui->IP4})
        box->installEventFilter(this);
    m_ui->UserLastEdit->installEventFilter(this);

    connect(m_ui->IP1, &QLineEdit::textChanged, this, handler(this, &AddSystemWindow::IP1Change));
    connect(m_ui->IP2, &QLineEdit::textChanged, this, handler(this, &AddSystemWindow::IP2Change));
    connect(m_ui->IP3, &QLineEdit::textChanged, this, handler(this, &AddSystemWindow::IP3Change));
    connect(m_ui->IP4, &QLineEdit::textChanged, this, handler(this, &AddSystemWindow::IP4Change));
    connect(m_ui->SaveButton, &QPushButton::clicked, this,
            handler(this, &AddSystemWindow::SaveButtonClick));
    m_ui->CRAFButton->setShortcut(QKeySequence::Print);
    connect(m_ui->CRAFButton, &QPushButton::clicked, this,
            handler(this, &AddSystemWindow::CRAFButtonClick));
    connect(m_ui->CancelButton, &QPushButton::clicked, this,
            handler(this, &AddSystemWindow::CancelButtonClick));
    connect(m_ui->HWAddButton, &QPushButton::clicked, this,
            handler(this, &AddSystemWindow::HWAddButtonClick));
    connect(m_ui->SWAddButton, &QPushButton::clicked, this,
            handler(this, &AddSystemWindow::SWAddButtonClick));
    connect(m_ui->HWDeleteButton, &QPushButton::clicked, this,
            handler(this, &AddSystemWindow::HWDeleteButtonClick));
    connect(m_ui->SWDeleteButton, &QPushButton::clicked, this,
            handler(this, &AddSystemWindow::SWDeleteButtonClick));
}

AddSystemWindow::~AddSystemWindow() = default;

QString AddSystemWindow::systemId() const {
    return m_ui->Label16->text();
}

void AddSystemWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        runHandler([this] { FormShow(); });
}

bool AddSystemWindow::eventFilter(QObject* watched, QEvent* event) {
    const bool octetBox = watched == m_ui->IP1 || watched == m_ui->IP2 || watched == m_ui->IP3 ||
                          watched == m_ui->IP4;
    if (octetBox && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste)) {
        bool taken = false;
        runHandler([&] { taken = pasteAddress(); });
        if (taken)
            return true;
    }
    // The menu's Paste would insert into the box directly and the length limit would cut the
    // address; it goes through the same road as Ctrl+V.
    if (octetBox && event->type() == QEvent::ContextMenu) {
        auto* box = static_cast<QLineEdit*>(watched);
        const std::unique_ptr<QMenu> menu(box->createStandardContextMenu());
        QAction* paste = nullptr;
        for (QAction* a : menu->actions())
            if (a->text().section(u'\t', 0, 0) == QLineEdit::tr("&Paste")) // Qt names it by text
                paste = a;
        if (paste) {
            paste->disconnect(box);
            // Acted on once the menu has closed, so the focus the paste moves stays moved.
            if (menu->exec(static_cast<QContextMenuEvent*>(event)->globalPos()) == paste) {
                bool taken = false;
                runHandler([&] { taken = pasteAddress(); });
                if (!taken)
                    box->paste();
            }
            return true;
        }
    }
    // Leaving a box for another control counts; the window losing focus does not.
    if (event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::ActiveWindowFocusReason &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
        if (watched == m_ui->IP3)
            runHandler([this] { IP3Exit(); });
        else if (watched == m_ui->IP4)
            runHandler([this] { IP4Exit(); });
        else if (watched == m_ui->UserLastEdit)
            runHandler([this] { UserLastEditExit(); });
    }
    return QDialog::eventFilter(watched, event);
}

void AddSystemWindow::FormShow() {
    m_savedId.clear();
    const QString id = systemrules::nextSystemId(m_dm, m_state.settings.SysIdPrefix);
    m_ui->Label16->setText(id);

    const QString typed = m_ui->CompanyName->currentText();
    m_ui->CompanyName->clear();
    m_ui->CompanyName->addItems(systemrules::companies(m_dm));
    m_ui->CompanyName->setCurrentIndex(-1);
    m_ui->CompanyName->setEditText(typed);

    const QString filter = DataModule::oneSystemFilter(id);
    // Tag, filter and flag are set one by one; the grids hear of it once.
    Table::HoldObservers holdHw(*m_dm.HWTable);
    Table::HoldObservers holdSw(*m_dm.SWTable);
    m_dm.HWTableOpenClose(QString(), filter, true, true);
    m_dm.SWTableOpenClose(QString(), filter, true, true);
    holdItems();
}

// Until Save, items are kept here and shown in the grids; the tables get them under the ID the
// system is stored with, so a cancelled system leaves none behind and a window open elsewhere
// never lists them.
void AddSystemWindow::holdItems() {
    for (auto [held, grid, table, fields] :
         {std::tuple{&m_heldHw, m_ui->DBGrid2, m_dm.HWTable, &kHwFields},
          {&m_heldSw, m_ui->DBGrid1, m_dm.SWTable, &kSwFields}}) {
        held->rows.clear();
        held->model->clear();
        held->model->setHorizontalHeaderLabels(table->fieldNames());
        const QStringList names = table->fieldNames();
        auto column = [&names](const QString& field) {
            for (int i = 0; i < names.size(); ++i)
                if (names[i].compare(field, Qt::CaseInsensitive) == 0)
                    return i;
            return -1;
        };
        held->columns.clear();
        for (const QString& f : *fields)
            held->columns << column(f);
        held->idColumn = column(QStringLiteral("SysID"));
        grid->setModel(held->model);
    }
}

bool AddSystemWindow::itemsHeld() const {
    return m_savedId.isEmpty();
}

void AddSystemWindow::holdItem(Held& held, const QStringList& values) {
    held.rows.append(values);
    QList<QStandardItem*> cells;
    for (int c = 0; c < held.model->columnCount(); ++c)
        cells << new QStandardItem(c == held.idColumn ? systemId()
                                                      : values.value(held.columns.indexOf(c)));
    held.model->appendRow(cells);
}

// A dotted address pasted into any octet box fills the four, through the same rules as typing.
bool AddSystemWindow::pasteAddress() {
    static const QRegularExpression dotted(
        QStringLiteral(R"(^\s*(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})\s*$)"));
    const auto m = dotted.match(QGuiApplication::clipboard()->text());
    if (!m.hasMatch())
        return false;
    QLineEdit* const boxes[] = {m_ui->IP1, m_ui->IP2, m_ui->IP3};
    for (int i = 0; i < 3; ++i) {
        const QSignalBlocker quiet(boxes[i]);
        boxes[i]->setText(m.captured(i + 1));
    }
    m_ui->IP4->setFocus(Qt::TabFocusReason);
    m_ui->IP4->clear();
    m_ui->IP4->setText(m.captured(4)); // the box-4 rule moves on or refuses, as when typed
    return true;
}

void AddSystemWindow::octetRule(QLineEdit* box, QLineEdit* next) {
    const QString t = box->text();
    if (t.startsWith(u'.')) {
        box->clear();
        box->setFocus();
    } else if (t.endsWith(u'.')) {
        box->setText(t.chopped(1));
        next->setFocus(Qt::TabFocusReason);
    } else if (t.size() == 3) {
        next->setFocus(Qt::TabFocusReason);
    }
}

void AddSystemWindow::IP1Change() {
    octetRule(m_ui->IP1, m_ui->IP2);
}
void AddSystemWindow::IP2Change() {
    octetRule(m_ui->IP2, m_ui->IP3);
}
void AddSystemWindow::IP3Change() {
    octetRule(m_ui->IP3, m_ui->IP4);
}

void AddSystemWindow::IP4Change() {
    const QString t = m_ui->IP4->text();
    if (t.startsWith(u'.')) {
        m_ui->IP4->clear();
    } else if (t.size() == 3) {
        const QString refusal = systemrules::octetRefusal(t);
        if (refusal.isEmpty()) {
            m_ui->Alias1->setFocus(Qt::TabFocusReason);
        } else {
            MessageService::information(this, refusal);
            m_ui->IP4->clear();
            m_ui->IP4->setFocus();
        }
    }
}

void AddSystemWindow::IP3Exit() {
    if (m_ui->IP3->text().isEmpty())
        return;
    const int n =
        systemrules::firstFreeHost(m_dm, m_ui->IP1->text(), m_ui->IP2->text(), m_ui->IP3->text());
    if (n > 0)
        m_ui->IP4->setText(QString::number(n));
}

bool AddSystemWindow::addressTaken() {
    return systemrules::addressRecorded(*m_dm.IPTable, {m_ui->IP1->text(), m_ui->IP2->text(),
                                                        m_ui->IP3->text(), m_ui->IP4->text()});
}

void AddSystemWindow::IP4Exit() {
    if (addressTaken()) {
        MessageService::information(this, kAddressTaken);
        m_ui->IP4->setFocus();
    }
}

void AddSystemWindow::UserLastEditExit() {
    const auto n =
        systemrules::suggestNames(m_ui->UserFirstEdit->text(), m_ui->UserLastEdit->text());
    m_ui->ComputerName->setText(n.computer);
    m_ui->Alias1->setText(n.alias1);
    m_ui->Alias2->setText(n.alias2);
    m_ui->Alias3->setText(n.alias3);
    m_ui->Alias4->setText(n.alias4);
}

void AddSystemWindow::SaveButtonClick() {
    const QString id = systemId();
    if (!m_savedId.isEmpty()) {
        MessageService::information(
            this, QStringLiteral("This system has already been saved as %1. To record another "
                                 "system, press Cancel and choose Create again.")
                      .arg(m_savedId));
        return;
    }
    // The address is checked again here: Enter saves without leaving box 4.
    if (addressTaken()) {
        MessageService::information(this, kAddressTaken);
        m_ui->IP4->setFocus();
        return;
    }
    // The ID is checked and the rows appended under the systems table's lock, so another
    // administrator saving at the same moment cannot get the same ID.
    const QString used = systemrules::writeSystem(m_dm, m_state.settings.SysIdPrefix, id, record());
    m_savedId = used;
    m_ui->Label16->setText(used);
    storeHeldItems(used);
    StatusNotes::post(QStringLiteral("System %1 saved").arg(used));
    if (used == id)
        return;
    MessageService::information(
        this, QStringLiteral("The System ID %1 was taken by another administrator; this system "
                             "was saved as %2.")
                  .arg(id, used));
}

SystemRecord AddSystemWindow::record() const {
    return {.company = m_ui->CompanyName->currentText(),
            .userFirst = m_ui->UserFirstEdit->text(),
            .userLast = m_ui->UserLastEdit->text(),
            .phone = m_ui->UserPhoneEdit->text(),
            .extension = m_ui->UserExtEdit->text(),
            .location = m_ui->LocationEdit->text(),
            .room = m_ui->RoomEdit->text(),
            .security = m_ui->SecurityEdit->text(),
            .computer = m_ui->ComputerName->text(),
            .ip1 = m_ui->IP1->text(),
            .ip2 = m_ui->IP2->text(),
            .ip3 = m_ui->IP3->text(),
            .ip4 = m_ui->IP4->text(),
            .alias1 = m_ui->Alias1->text(),
            .alias2 = m_ui->Alias2->text(),
            .alias3 = m_ui->Alias3->text(),
            .alias4 = m_ui->Alias4->text(),
            .typeEntry = m_ui->ComputerType->currentText()};
}

// Each held item is stored and then let go, so a failure keeps the rest held and listed.
void AddSystemWindow::storeHeldItems(const QString& id) {
    for (auto [held, table, fields] :
         {std::tuple{&m_heldHw, m_dm.HWTable, &kHwFields}, {&m_heldSw, m_dm.SWTable, &kSwFields}}) {
        while (!held->rows.isEmpty()) {
            systemrules::storeItem(*table, *fields, held->rows.first(), id);
            held->rows.removeFirst();
            held->model->removeRow(0);
        }
    }
    const QString filter = DataModule::oneSystemFilter(id);
    m_dm.HWTableOpenClose(QString(), filter, true, true);
    m_dm.SWTableOpenClose(QString(), filter, true, true);
    m_ui->DBGrid2->bind(m_dm.HWTable);
    m_ui->DBGrid1->bind(m_dm.SWTable);
}

void AddSystemWindow::CRAFButtonClick() {
    if (m_report)
        m_report(systemId());
}

void AddSystemWindow::CancelButtonClick() {
    const qsizetype held = itemsHeld() ? m_heldHw.rows.size() + m_heldSw.rows.size() : 0;
    if (held > 0) {
        // Both answers matter, so Escape is no answer here.
        if (!MessageService::alert(
                this, QStringLiteral("Discard the %1 items entered for this system?").arg(held),
                MessageService::Escape::None))
            return;
        holdItems();
    }
    m_main->show();
    hide();
}

void AddSystemWindow::reject() {
    CancelButtonClick();
}

void AddSystemWindow::addItem(Held& held, Table& table, const QStringList& fields,
                              const QList<QLineEdit*>& boxes) {
    QStringList values;
    for (QLineEdit* b : boxes)
        values << b->text();
    if (itemsHeld()) {
        systemrules::checkItemFits(table, fields, values); // now, not first at Save
        holdItem(held, values);
    } else {
        systemrules::storeItem(table, fields, values, systemId());
    }
    for (QLineEdit* b : boxes)
        b->clear();
    boxes.first()->setFocus();
}

void AddSystemWindow::HWAddButtonClick() {
    addItem(
        m_heldHw, *m_dm.HWTable, kHwFields,
        {m_ui->HWDescriptionEdit, m_ui->HWManufacturerEdit, m_ui->HWModelEdit, m_ui->HWSerialEdit});
}

void AddSystemWindow::SWAddButtonClick() {
    addItem(m_heldSw, *m_dm.SWTable, kSwFields,
            {m_ui->SWDescriptionEdit, m_ui->SWManufacturerEdit, m_ui->SWLicenseEdit,
             m_ui->SWSerialEdit});
}

void AddSystemWindow::deleteItem(Held& held, Table& t, QAbstractItemView* grid, const char* kind) {
    if (itemsHeld()) {
        const int row = grid->currentIndex().row();
        if (row < 0 || row >= held.rows.size())
            return;
        if (MessageService::alert(this, QStringLiteral("Delete the %1 item \"%2\"?")
                                            .arg(QLatin1String(kind), held.rows[row].first()))) {
            held.rows.removeAt(row);
            held.model->removeRow(row);
        }
        return;
    }
    if (!t.isActive() || t.isEmpty() || t.recNo() == 0)
        return;
    if (MessageService::alert(this,
                              QStringLiteral("Delete the %1 item \"%2\"?")
                                  .arg(QLatin1String(kind), t.fieldText(QStringLiteral("Desc")))))
        t.remove();
}

void AddSystemWindow::HWDeleteButtonClick() {
    deleteItem(m_heldHw, *m_dm.HWTable, m_ui->DBGrid2, "hardware");
}

void AddSystemWindow::SWDeleteButtonClick() {
    deleteItem(m_heldSw, *m_dm.SWTable, m_ui->DBGrid1, "software");
}

void AddSystemWindow::ClearHWForm() {
    for (QLineEdit* e :
         {m_ui->HWDescriptionEdit, m_ui->HWManufacturerEdit, m_ui->HWModelEdit, m_ui->HWSerialEdit})
        e->clear();
}

void AddSystemWindow::ClearSWForm() {
    for (QLineEdit* e : {m_ui->SWDescriptionEdit, m_ui->SWManufacturerEdit, m_ui->SWLicenseEdit,
                         m_ui->SWSerialEdit})
        e->clear();
}

} // namespace qn
