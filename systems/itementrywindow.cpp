#include "itementrywindow.h"

#include "datamodule.h"
#include "guard.h"
#include "recording.h"
#include "statusnotes.h"
#include "ui_itementrywindow.h"

#include <QShowEvent>

namespace qn {

ItemEntryWindow::ItemEntryWindow(Kind kind, DataModule& dm, std::function<QString()> systemId,
                                 QWidget* back, QWidget* parent)
    : QDialog(parent), m_kind(kind), m_ui(std::make_unique<Ui::ItemEntryWindow>()), m_dm(dm),
      m_systemId(std::move(systemId)), m_back(back) {
    m_ui->setupUi(this);
    if (kind == Kind::Software) {
        // One form serves both: the software form names its fourth box after the licence key.
        setObjectName(QStringLiteral("TForm9"));
        setWindowTitle(QStringLiteral("Software Entry Form"));
        m_ui->ModelNumber->setObjectName(QStringLiteral("LicenseKey"));
        m_ui->FourthLabel->setText(QStringLiteral("License Key :"));
    }
    connect(m_ui->SaveButton, &QPushButton::clicked, this,
            handler(this, &ItemEntryWindow::SaveButtonClick));
    connect(m_ui->NewButton, &QPushButton::clicked, this,
            handler(this, &ItemEntryWindow::NewButtonClick));
    connect(m_ui->CancelButton, &QPushButton::clicked, this,
            handler(this, &ItemEntryWindow::CancelButtonClick));
}

ItemEntryWindow::~ItemEntryWindow() = default;

void ItemEntryWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        runHandler([this] { FormShow(); });
}

void ItemEntryWindow::FormShow() {
    m_ui->SystemID->setText(m_systemId ? m_systemId() : QString());
    m_ui->Description->setFocus();
}

void ItemEntryWindow::SaveButtonClick() {
    const bool hardware = m_kind == Kind::Hardware;
    systemrules::storeItem(hardware ? *m_dm.HWTable : *m_dm.SWTable,
                           hardware ? systemrules::hardwareFields() : systemrules::softwareFields(),
                           {m_ui->Description->text(), m_ui->Manufacturer->text(),
                            m_ui->ModelNumber->text(), m_ui->SerialNumber->text()},
                           m_ui->SystemID->text());
    StatusNotes::post((hardware ? QStringLiteral("Hardware item \"%1\" saved to %2")
                                : QStringLiteral("Software item \"%1\" saved to %2"))
                          .arg(m_ui->Description->text(), m_ui->SystemID->text()));
    ClearForm();
    m_ui->Description->setFocus();
}

void ItemEntryWindow::ClearForm() {
    m_ui->Description->clear();
    m_ui->Manufacturer->clear();
    m_ui->ModelNumber->clear();
    m_ui->SerialNumber->clear();
}

void ItemEntryWindow::NewButtonClick() {
    ClearForm();
}

void ItemEntryWindow::CancelButtonClick() {
    if (m_back)
        m_back->show();
    hide();
}

void ItemEntryWindow::reject() {
    CancelButtonClick();
}

} // namespace qn
