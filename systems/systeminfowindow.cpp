#include "systeminfowindow.h"

#include "datamodule.h"
#include "error.h"
#include "guard.h"
#include "itementrywindow.h"
#include "items.h"
#include "messageservice.h"
#include "recording.h"
#include "statusnotes.h"
#include "table.h"
#include "ui_systeminfowindow.h"

#include <QKeyEvent>
#include <QLabel>
#include <QShowEvent>

namespace qn {
namespace {

const QString kEditedElsewhere =
    QStringLiteral("System %1 is being edited by another administrator. It is shown read-only "
                   "until they finish.");

} // namespace

SystemInfoWindow::SystemInfoWindow(DataModule& dm, QWidget* mainWindow, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::SystemInfoWindow>()), m_dm(dm), m_main(mainWindow),
      m_addressCheck(std::make_unique<Table>(dm.engine())) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint |
                   Qt::WindowMinimizeButtonHint);
    QFont big = m_ui->DBText1->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    big.setUnderline(true);
    m_ui->DBText1->setFont(big);
    m_ui->DBText1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    Table* sys = dm.SysTable;
    Table* ip = dm.IPTable;
    m_ui->DBText1->bind(sys, QStringLiteral("SYSID"));
    m_ui->CNameEdit->bind(sys, QStringLiteral("COMPANY"));
    m_ui->UserFirstEdit->bind(sys, QStringLiteral("USERFIRST"));
    m_ui->UserLastEdit->bind(sys, QStringLiteral("USERLAST"));
    m_ui->UserPhoneEdit->bind(sys, QStringLiteral("PHONE"));
    m_ui->UserExtEdit->bind(sys, QStringLiteral("PH_EXT"));
    m_ui->LocationEdit->bind(sys, QStringLiteral("LOCATION"));
    m_ui->RoomEdit->bind(sys, QStringLiteral("ROOM"));
    m_ui->SecutiryEdit->bind(sys, QStringLiteral("SECURITY"));
    m_ui->ComputerName->bind(ip, QStringLiteral("COMPUTER"));
    m_ui->IP1->bind(ip, QStringLiteral("IP1"));
    m_ui->IP2->bind(ip, QStringLiteral("IP2"));
    m_ui->IP3->bind(ip, QStringLiteral("IP3"));
    m_ui->IP4->bind(ip, QStringLiteral("IP4"));
    m_ui->ComputerAlias1->bind(ip, QStringLiteral("ALIAS1"));
    m_ui->ComputerAlias2->bind(ip, QStringLiteral("ALIAS2"));
    m_ui->ComputerAlias3->bind(ip, QStringLiteral("ALIAS3"));
    m_ui->ComputerAlias4->bind(ip, QStringLiteral("ALIAS4"));
    m_ui->MachineType->bind(ip, QStringLiteral("TYPE"));
    m_ui->DBGrid2->bind(dm.HWTable,
                        {QStringLiteral("SYSID"), QStringLiteral("MANUF"), QStringLiteral("DESC"),
                         QStringLiteral("SERIALNUM"), QStringLiteral("MODEL")});
    m_ui->DBGrid1->bind(dm.SWTable,
                        {QStringLiteral("SYSID"), QStringLiteral("MANUF"), QStringLiteral("DESC"),
                         QStringLiteral("SERIALNUM"), QStringLiteral("LICENSEKEY")});
    m_ui->DBNavigator1->bind(sys);

    // A system another administrator is editing is shown read-only, said at once, and looked
    // at again every second and on Try Again; typing never waits for their row lock.
    m_boxes = {m_ui->CNameEdit,
               m_ui->UserFirstEdit,
               m_ui->UserLastEdit,
               m_ui->UserPhoneEdit,
               m_ui->UserExtEdit,
               m_ui->LocationEdit,
               m_ui->RoomEdit,
               m_ui->SecutiryEdit,
               m_ui->ComputerName,
               m_ui->IP1,
               m_ui->IP2,
               m_ui->IP3,
               m_ui->IP4,
               m_ui->ComputerAlias1,
               m_ui->ComputerAlias2,
               m_ui->ComputerAlias3,
               m_ui->ComputerAlias4,
               m_ui->MachineType};
    for (QLineEdit* box : m_boxes)
        box->installEventFilter(this);
    m_busyLabel = new QLabel(this);
    m_busyLabel->setObjectName(QStringLiteral("BusyLabel"));
    m_busyLabel->setGeometry(72, 2, 252, 38);
    m_busyLabel->setWordWrap(true);
    m_busyLabel->setStyleSheet(QStringLiteral("color: #a00000;"));
    m_busyLabel->hide();
    m_tryAgain = new QPushButton(tr("Try Again"), this);
    m_tryAgain->setObjectName(QStringLiteral("TryAgainButton"));
    m_tryAgain->setGeometry(328, 10, 68, 26);
    m_tryAgain->hide();
    connect(m_tryAgain, &QPushButton::clicked, this,
            handler(this, &SystemInfoWindow::TryAgainButtonClick));
    m_recheck.setInterval(1000);
    connect(&m_recheck, &QTimer::timeout, this,
            [this] { runHandler([this] { checkEditable(); }); });
    for (Table* t : {sys, ip})
        connect(t, &Table::rowChanged, this, [this] {
            if (isVisible())
                runHandler([this] { checkEditable(); });
        });

    connect(m_ui->UpdateButton, &QPushButton::clicked, this,
            handler(this, &SystemInfoWindow::UpdateButtonClick));
    connect(m_ui->HAddButton, &QPushButton::clicked, this,
            handler(this, &SystemInfoWindow::HAddButtonClick));
    connect(m_ui->SAddButton, &QPushButton::clicked, this,
            handler(this, &SystemInfoWindow::SAddButtonClick));
    connect(m_ui->HDeleteButton, &QPushButton::clicked, this,
            handler(this, &SystemInfoWindow::HDeleteButtonClick));
    connect(m_ui->SDeleteButton, &QPushButton::clicked, this,
            handler(this, &SystemInfoWindow::SDeleteButtonClick));
    m_ui->CRAFButton->setShortcut(QKeySequence::Print);
    connect(m_ui->CRAFButton, &QPushButton::clicked, this,
            handler(this, &SystemInfoWindow::CRAFButtonClick));
    connect(m_ui->CancelButton, &QPushButton::clicked, this,
            handler(this, &SystemInfoWindow::CancelButtonClick));
}

SystemInfoWindow::~SystemInfoWindow() = default;

void SystemInfoWindow::setEntryForms(ItemEntryWindow* hardware, ItemEntryWindow* software) {
    m_hardwareForm = hardware;
    m_softwareForm = software;
}

QString SystemInfoWindow::systemId() const {
    return m_ui->DBText1->text();
}

void SystemInfoWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    runHandler([this] { checkEditable(); });
}

bool SystemInfoWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && !m_readOnly) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool edits = (!key->text().isEmpty() && key->text().front().isPrint()) ||
                           key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Delete;
        auto* box = qobject_cast<DBEdit*>(watched);
        if (edits && box && box->table() && box->table()->state() == Table::State::Browse &&
            box->table()->rowLockedElsewhere()) {
            // Refused at once and said why, instead of waiting for the lock on every key.
            runHandler([this] { setReadOnly(true); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QString SystemInfoWindow::shownId() const {
    const Table& sys = *m_dm.SysTable;
    if (sys.isActive() && sys.recNo() != 0)
        return sys.fieldText(QStringLiteral("SysID"));
    return m_ui->DBText1->text();
}

bool SystemInfoWindow::editedElsewhere() {
    return m_dm.SysTable->rowLockedElsewhere() || m_dm.IPTable->rowLockedElsewhere();
}

void SystemInfoWindow::checkEditable() {
    if (!isVisible()) {
        m_recheck.stop(); // looked at again when shown
        return;
    }
    const bool busy = editedElsewhere();
    if (busy != m_readOnly)
        setReadOnly(busy);
    else if (busy)
        m_busyLabel->setText(kEditedElsewhere.arg(shownId())); // the navigator may have moved
}

void SystemInfoWindow::setReadOnly(bool on) {
    m_readOnly = on;
    for (QLineEdit* box : m_boxes)
        box->setReadOnly(on);
    for (QPushButton* b : {m_ui->UpdateButton, m_ui->HAddButton, m_ui->SAddButton,
                           m_ui->HDeleteButton, m_ui->SDeleteButton})
        b->setEnabled(!on);
    m_busyLabel->setText(on ? kEditedElsewhere.arg(shownId()) : QString());
    m_busyLabel->setVisible(on);
    m_tryAgain->setVisible(on);
    if (on) {
        m_recheck.start();
        return;
    }
    m_recheck.stop();
    // What the other administrator stored is shown before anything is typed over it.
    for (Table* t : {m_dm.SysTable, m_dm.IPTable})
        if (t->isActive() && t->recNo() != 0 && t->state() == Table::State::Browse)
            t->gotoBookmark(t->bookmark());
}

void SystemInfoWindow::TryAgainButtonClick() {
    checkEditable();
}

void SystemInfoWindow::refuseEditing() {
    setReadOnly(true);
    throw Error(kEditedElsewhere.arg(shownId()));
}

// Runs an edit of a row of the shown system; a row lock another administrator holds is
// reported by the system's ID, not by a record number.
template <class F> void SystemInfoWindow::editing(Table& t, F&& work) {
    if (t.rowLockedElsewhere())
        refuseEditing();
    try {
        work();
    } catch (const StoreError&) {
        if (t.rowLockedElsewhere())
            refuseEditing();
        throw;
    }
}

void SystemInfoWindow::UpdateButtonClick() {
    Table& ip = *m_dm.IPTable;
    Table& sys = *m_dm.SysTable;
    if (editedElsewhere())
        refuseEditing();
    const bool hasIp = ip.isActive() && !ip.isEmpty() && ip.recNo() != 0;
    if (hasIp) {
        const QStringList octets{m_ui->IP1->text(), m_ui->IP2->text(), m_ui->IP3->text(),
                                 m_ui->IP4->text()};
        if (systemrules::addressMovesOntoRecorded(*m_addressCheck, ip, octets)) {
            MessageService::information(
                this, QStringLiteral("IP Address already exists! Please choose another"));
            m_ui->IP4->setFocus();
            return;
        }
        if (ip.state() == Table::State::Browse)
            editing(ip, [&] { ip.edit(); });
        // The address key and the type's description follow what the boxes now hold.
        systemrules::setAddressKeys(ip, octets, m_ui->MachineType->text());
        ip.post();
    }
    if (sys.isActive() && !sys.isEmpty() && sys.recNo() != 0) {
        if (sys.state() == Table::State::Browse)
            editing(sys, [&] { sys.edit(); });
        sys.post();
    }
    MessageService::information(this, QStringLiteral("Record Updated Successfully!"));
}

void SystemInfoWindow::HAddButtonClick() {
    if (m_hardwareForm)
        m_hardwareForm->show();
}

void SystemInfoWindow::SAddButtonClick() {
    if (m_softwareForm)
        m_softwareForm->show();
}

void SystemInfoWindow::deleteItem(Table& items, bool hardware) {
    if (!items.isActive() || items.isEmpty() || items.recNo() == 0)
        return; // nothing selected: no empty pool row
    if (items.rowLockedElsewhere())
        refuseEditing();
    const QString question = hardware ? QStringLiteral("Add Hardware back into Resources?")
                                      : QStringLiteral("Add Software back into Resources?");
    // Both answers remove the item, so Escape is no answer.
    const bool back = MessageService::alert(this, question, MessageService::Escape::None);
    if (back)
        pool::returnToPool(m_dm, items, hardware ? pool::Kind::Hardware : pool::Kind::Software);
    editing(items, [&] { items.remove(); });
    StatusNotes::post(back ? QStringLiteral("Item removed and returned to the pool")
                           : QStringLiteral("Item removed"));
}

void SystemInfoWindow::HDeleteButtonClick() {
    deleteItem(*m_dm.HWTable, true);
}
void SystemInfoWindow::SDeleteButtonClick() {
    deleteItem(*m_dm.SWTable, false);
}

void SystemInfoWindow::CRAFButtonClick() {
    if (m_report)
        m_report(systemId());
}

void SystemInfoWindow::CancelButtonClick() {
    m_dm.DummyTableOpenClose(QString(), QString(), false, false);
    m_dm.IPTableOpenClose(QString(), QString(), false, false);
    m_dm.HWTableOpenClose(QString(), QString(), false, false);
    m_dm.SWTableOpenClose(QString(), QString(), false, false);
    m_dm.SysTableOpenClose(QString(), QString(), false, false);
    m_main->show();
    hide();
}

void SystemInfoWindow::reject() {
    CancelButtonClick();
}

} // namespace qn
