#include "systeminfowindow.h"

#include "datamodule.h"
#include "guard.h"
#include "itementrywindow.h"
#include "messageservice.h"
#include "systemrules.h"
#include "table.h"
#include "ui_systeminfowindow.h"

namespace qn {

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

void SystemInfoWindow::UpdateButtonClick() {
    Table& ip = *m_dm.IPTable;
    Table& sys = *m_dm.SysTable;
    const bool hasIp = ip.isActive() && !ip.isEmpty() && ip.recNo() != 0;
    if (hasIp) {
        // The address key and the type's description follow what the boxes now hold.
        const QString key = systemrules::addressKey(m_ui->IP1->text(), m_ui->IP2->text(),
                                                    m_ui->IP3->text(), m_ui->IP4->text());
        if (key != ip.fieldText(QStringLiteral("IPString")) &&
            systemrules::addressRecorded(
                *m_addressCheck,
                {m_ui->IP1->text(), m_ui->IP2->text(), m_ui->IP3->text(), m_ui->IP4->text()},
                ip.recNo())) {
            MessageService::information(
                this, QStringLiteral("IP Address already exists! Please choose another"));
            m_ui->IP4->setFocus();
            return;
        }
        if (ip.state() == Table::State::Browse)
            ip.edit();
        ip.setFieldText(QStringLiteral("IPString"), key);
        const QString desc = systemrules::descriptionOfCode(m_ui->MachineType->text());
        if (!desc.isNull())
            ip.setFieldText(QStringLiteral("TypeDesc"), desc);
        ip.post();
    }
    if (sys.isActive() && !sys.isEmpty() && sys.recNo() != 0) {
        if (sys.state() == Table::State::Browse)
            sys.edit();
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
    const QString question = hardware ? QStringLiteral("Add Hardware back into Resources?")
                                      : QStringLiteral("Add Software back into Resources?");
    // Both answers remove the item, so Escape is no answer.
    if (MessageService::alert(this, question, MessageService::Escape::None)) {
        m_dm.ResourceTableOpenClose(QString(), QString(), false, true);
        Table& pool = *m_dm.ResourceTable;
        struct Close {
            DataModule& dm;
            ~Close() { dm.ResourceTableOpenClose(QString(), QString(), false, false); }
        } close{m_dm};
        pool.append();
        try {
            pool.setFieldText(QStringLiteral("MAIN"),
                              hardware ? QStringLiteral("HARDWARE") : QStringLiteral("SOFTWARE"));
            pool.setFieldText(QStringLiteral("CATEGORY"),
                              items.fieldText(QStringLiteral("CATEGORY")));
            pool.setFieldText(QStringLiteral("ITEM"), items.fieldText(QStringLiteral("DESC")));
            pool.setFieldText(
                QStringLiteral("MDL_LIC"),
                items.fieldText(hardware ? QStringLiteral("MODEL") : QStringLiteral("LICENSEKEY")));
            pool.setFieldText(QStringLiteral("SERIAL"),
                              items.fieldText(QStringLiteral("SERIALNUM")));
            pool.setFieldText(QStringLiteral("PART"), items.fieldText(QStringLiteral("PART")));
            pool.setFieldText(QStringLiteral("MANUF"), items.fieldText(QStringLiteral("MANUF")));
            pool.post();
        } catch (...) {
            pool.cancel();
            throw; // the item stays where it is
        }
    }
    items.remove();
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
