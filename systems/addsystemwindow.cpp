#include "addsystemwindow.h"

#include "appstate.h"
#include "datamodule.h"
#include "guard.h"
#include "messageservice.h"
#include "systemrules.h"
#include "table.h"
#include "ui_addsystemwindow.h"

#include <QDateTime>
#include <QFocusEvent>
#include <QShowEvent>

namespace qn {
namespace {

const QString kAddressTaken = QStringLiteral("IP Address already exists! Please choose another");

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
    m_ui->IP3->installEventFilter(this);
    m_ui->IP4->installEventFilter(this);
    m_ui->UserLastEdit->installEventFilter(this);

    connect(m_ui->IP1, &QLineEdit::textChanged, this, handler(this, &AddSystemWindow::IP1Change));
    connect(m_ui->IP2, &QLineEdit::textChanged, this, handler(this, &AddSystemWindow::IP2Change));
    connect(m_ui->IP3, &QLineEdit::textChanged, this, handler(this, &AddSystemWindow::IP3Change));
    connect(m_ui->IP4, &QLineEdit::textChanged, this, handler(this, &AddSystemWindow::IP4Change));
    connect(m_ui->SaveButton, &QPushButton::clicked, this,
            handler(this, &AddSystemWindow::SaveButtonClick));
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
    m_addedHw.clear();
    m_addedSw.clear();
    const QString id = systemrules::nextSystemId(m_dm, m_state.settings.SysIdPrefix);
    m_ui->Label16->setText(id);

    // The company tag yields each company once.
    const QString typed = m_ui->CompanyName->currentText();
    m_ui->CompanyName->clear();
    Table::HoldObservers hold(*m_dm.SysTable); // its details need not follow the walk
    m_dm.SysTableOpenClose(QStringLiteral("Company"), QString(), false, true);
    for (m_dm.SysTable->first(); !m_dm.SysTable->eof(); m_dm.SysTable->next())
        m_ui->CompanyName->addItem(m_dm.SysTable->fieldText(QStringLiteral("Company")));
    m_dm.SysTableOpenClose(QString(), QString(), false, false);
    m_ui->CompanyName->setCurrentIndex(-1);
    m_ui->CompanyName->setEditText(typed);

    const QString filter = DataModule::oneSystemFilter(id);
    // Tag, filter and flag are set one by one; the grids hear of it once.
    Table::HoldObservers holdHw(*m_dm.HWTable);
    Table::HoldObservers holdSw(*m_dm.SWTable);
    m_dm.HWTableOpenClose(QString(), filter, true, true);
    m_dm.SWTableOpenClose(QString(), filter, true, true);
}

void AddSystemWindow::octetRule(QLineEdit* box, QLineEdit* next) {
    const QString t = box->text();
    if (t.startsWith(u'.')) {
        box->clear();
        box->setFocus();
    } else if (t.endsWith(u'.')) {
        box->setText(t.chopped(1));
        next->setFocus();
    } else if (t.size() == 3) {
        next->setFocus();
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
        bool ok = false;
        const int value = t.toInt(&ok);
        if (!ok || t.contains(u'+') || t.contains(u'-') || t.contains(u' ')) {
            MessageService::information(
                this, QStringLiteral("\"%1\" is not a number: an address part is a number "
                                     "from 0 to 255.")
                          .arg(t));
            m_ui->IP4->clear();
            m_ui->IP4->setFocus();
        } else if (value <= 255) {
            m_ui->Alias1->setFocus();
        } else {
            MessageService::information(this, QStringLiteral("An IP Address CANNOT be over 255!"));
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
    return systemrules::addressRecorded(
        *m_dm.IPTable, systemrules::addressKey(m_ui->IP1->text(), m_ui->IP2->text(),
                                               m_ui->IP3->text(), m_ui->IP4->text()));
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
    const QString entry = m_ui->ComputerType->currentText();
    const QString key = systemrules::addressKey(m_ui->IP1->text(), m_ui->IP2->text(),
                                                m_ui->IP3->text(), m_ui->IP4->text());
    // The ID is checked and the rows appended under the systems table's lock, so another
    // administrator saving at the same moment cannot get the same ID.
    const QString used = systemrules::recordSystem(
        m_dm, m_state.settings.SysIdPrefix, id,
        [&](const QString& sysId) { writeSystemRows(sysId, entry, key); });
    m_savedId = used;
    if (used == id)
        return;
    m_ui->Label16->setText(used);
    moveItems(id, used);
    MessageService::information(
        this, QStringLiteral("The System ID %1 was taken by another administrator; this system "
                             "was saved as %2.")
                  .arg(id, used));
}

// Both rows are filled before either is posted, so that a value one of them refuses leaves
// neither behind. The systems row comes first: opening the systems table would make its
// detail, the IP table, post a row in progress.
void AddSystemWindow::writeSystemRows(const QString& id, const QString& entry, const QString& key) {
    m_dm.SysTableOpenClose(QString(), QString(), false, true);
    struct CloseSys {
        DataModule& dm;
        ~CloseSys() { dm.SysTableOpenClose(QString(), QString(), false, false); }
    } closeSys{m_dm};
    Table& sys = *m_dm.SysTable;
    sys.append();
    try {
        sys.setFieldText(QStringLiteral("SysID"), id);
        sys.setFieldText(QStringLiteral("Company"), m_ui->CompanyName->currentText());
        sys.setFieldText(QStringLiteral("UserFirst"), m_ui->UserFirstEdit->text());
        sys.setFieldText(QStringLiteral("UserLast"), m_ui->UserLastEdit->text());
        sys.setFieldText(QStringLiteral("Phone"), m_ui->UserPhoneEdit->text());
        sys.setFieldText(QStringLiteral("PH_EXT"), m_ui->UserExtEdit->text());
        sys.setFieldText(QStringLiteral("Location"), m_ui->LocationEdit->text());
        sys.setFieldText(QStringLiteral("Room"), m_ui->RoomEdit->text());
        sys.setFieldText(QStringLiteral("Security"), m_ui->SecurityEdit->text());
        sys.setFieldDateTime(QStringLiteral("Date"), QDateTime::currentDateTime());
    } catch (...) {
        sys.cancel();
        throw;
    }
    m_dm.IPTableOpenClose(QString(), QString(), false, true);
    struct CloseIp {
        DataModule& dm;
        ~CloseIp() { dm.IPTableOpenClose(QString(), QString(), false, false); }
    } closeIp{m_dm};
    Table& ip = *m_dm.IPTable;
    ip.append();
    try {
        ip.setFieldText(QStringLiteral("SysID"), id);
        ip.setFieldText(QStringLiteral("Computer"), m_ui->ComputerName->text());
        ip.setFieldText(QStringLiteral("IP1"), m_ui->IP1->text());
        ip.setFieldText(QStringLiteral("IP2"), m_ui->IP2->text());
        ip.setFieldText(QStringLiteral("IP3"), m_ui->IP3->text());
        ip.setFieldText(QStringLiteral("IP4"), m_ui->IP4->text());
        ip.setFieldText(QStringLiteral("IPString"), key);
        ip.setFieldText(QStringLiteral("Alias1"), m_ui->Alias1->text());
        ip.setFieldText(QStringLiteral("Alias2"), m_ui->Alias2->text());
        ip.setFieldText(QStringLiteral("Alias3"), m_ui->Alias3->text());
        ip.setFieldText(QStringLiteral("Alias4"), m_ui->Alias4->text());
        ip.setFieldText(QStringLiteral("Type"), systemrules::typeCode(entry));
        ip.setFieldText(QStringLiteral("TypeDesc"), systemrules::typeDescription(entry));
    } catch (...) {
        ip.cancel();
        sys.cancel();
        throw;
    }
    ip.post();
    sys.post();
}

// Hardware and software added in this window before Save went in under the shown ID; they
// follow the system to the ID it got. Only the rows added here move: the other
// administrator's system has items under the old ID too.
void AddSystemWindow::moveItems(const QString& from, const QString& to) {
    (void)from; // the tables are still filtered to it
    for (auto [table, rows] : {std::pair{m_dm.HWTable, &m_addedHw}, {m_dm.SWTable, &m_addedSw}}) {
        Table& t = *table;
        bool moved = t.isActive();
        while (moved && !rows->empty()) {
            moved = false;
            for (t.first(); !t.eof(); t.next()) {
                if (!rows->contains(t.recNo()))
                    continue;
                rows->remove(t.recNo());
                t.edit();
                t.setFieldText(QStringLiteral("SysID"), to);
                t.post();
                moved = true;
                break; // the row has left the filter; walk again
            }
        }
        rows->clear();
    }
    const QString now = DataModule::oneSystemFilter(to);
    m_dm.HWTableOpenClose(QString(), now, true, true);
    m_dm.SWTableOpenClose(QString(), now, true, true);
}

void AddSystemWindow::CRAFButtonClick() {
    if (m_report)
        m_report(systemId());
}

void AddSystemWindow::CancelButtonClick() {
    m_main->show();
    hide();
}

void AddSystemWindow::reject() {
    CancelButtonClick();
}

void AddSystemWindow::HWAddButtonClick() {
    Table& t = *m_dm.HWTable;
    t.append();
    try {
        t.setFieldText(QStringLiteral("SysID"), systemId());
        t.setFieldText(QStringLiteral("Desc"), m_ui->HWDescriptionEdit->text());
        t.setFieldText(QStringLiteral("Manuf"), m_ui->HWManufacturerEdit->text());
        t.setFieldText(QStringLiteral("Model"), m_ui->HWModelEdit->text());
        t.setFieldText(QStringLiteral("SerialNum"), m_ui->HWSerialEdit->text());
        t.post();
        m_addedHw.insert(t.recNo());
    } catch (...) {
        t.cancel();
        throw;
    }
    ClearHWForm();
    m_ui->HWDescriptionEdit->setFocus();
}

void AddSystemWindow::SWAddButtonClick() {
    Table& t = *m_dm.SWTable;
    t.append();
    try {
        t.setFieldText(QStringLiteral("SysID"), systemId());
        t.setFieldText(QStringLiteral("Desc"), m_ui->SWDescriptionEdit->text());
        t.setFieldText(QStringLiteral("Manuf"), m_ui->SWManufacturerEdit->text());
        t.setFieldText(QStringLiteral("LicenseKey"), m_ui->SWLicenseEdit->text());
        t.setFieldText(QStringLiteral("SerialNum"), m_ui->SWSerialEdit->text());
        t.post();
        m_addedSw.insert(t.recNo());
    } catch (...) {
        t.cancel();
        throw;
    }
    ClearSWForm();
    m_ui->SWDescriptionEdit->setFocus();
}

void AddSystemWindow::HWDeleteButtonClick() {
    Table& t = *m_dm.HWTable;
    if (!t.isActive() || t.isEmpty() || t.recNo() == 0)
        return;
    if (MessageService::alert(this, QStringLiteral("Delete the hardware item \"%1\"?")
                                        .arg(t.fieldText(QStringLiteral("Desc")))))
        t.remove();
}

void AddSystemWindow::SWDeleteButtonClick() {
    Table& t = *m_dm.SWTable;
    if (!t.isActive() || t.isEmpty() || t.recNo() == 0)
        return;
    if (MessageService::alert(this, QStringLiteral("Delete the software item \"%1\"?")
                                        .arg(t.fieldText(QStringLiteral("Desc")))))
        t.remove();
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
