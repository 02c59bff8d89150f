#include "resourceswindow.h"

#include "datamodule.h"
#include "guard.h"
#include "items.h"
#include "messageservice.h"
#include "statusnotes.h"
#include "table.h"
#include "tablemodel.h"
#include "ui_resourceswindow.h"

#include <QShowEvent>
#include <QTimer>

namespace qn {
namespace {

const QString kNoSystem = QStringLiteral("You must select a system to add the resource to!");

// Inserts where the list's order puts it; a list with nothing selected stays so.
void addSorted(QComboBox* list, const QString& text) {
    int at = 0;
    while (at < list->count() && !pool::listsBefore(text, list->itemText(at)))
        ++at;
    const bool none = list->currentIndex() < 0;
    list->insertItem(at, text);
    if (none)
        list->setCurrentIndex(-1);
}

// The selected entry, or empty text when none is selected (typed text does not count).
QString selected(const QComboBox* list) {
    return list->currentIndex() < 0 ? QString() : list->itemText(list->currentIndex());
}

} // namespace

ResourcesWindow::ResourcesWindow(DataModule& dm, QWidget* mainWindow, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::ResourcesWindow>()), m_dm(dm), m_main(mainWindow) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    m_ui->MainRCombo->addItems(pool::mainKinds());
    m_ui->CategoryRCombo->addItems(pool::subCategories());
    m_ui->MainRCombo->setCurrentIndex(-1);
    m_ui->CategoryRCombo->setCurrentIndex(-1);
    // A System ID typed by hand stays out of the list; Add To System refuses it.
    m_ui->ExistingCombo->setInsertPolicy(QComboBox::NoInsert);
    m_ui->ExistingCombo->setCurrentIndex(-1);
    m_ui->CategoryCombo->setEnabled(false);
    m_ui->DBGrid1->bind(dm.ResourceTable,
                        {QStringLiteral("MANUF"), QStringLiteral("ITEM"), QStringLiteral("MDL_LIC"),
                         QStringLiteral("SERIAL"), QStringLiteral("PART")});
    m_ui->DBGrid1->tableModel()->setTitles({QStringLiteral("Manufacturer"), QStringLiteral("Item"),
                                            QStringLiteral("Model #/License Key"),
                                            QStringLiteral("Serial #"), QStringLiteral("Part #")});
    m_ui->DBGrid1->hide();
    m_ui->ResourceGroup->hide();

    // The pool table is shared: System Info's Delete opens and closes it while this window
    // shows it. Reopened once that handler is over.
    connect(dm.ResourceTable, &Table::stateChanged, this, [this](Table::State state) {
        if (state == Table::State::Inactive && m_holdsPool)
            QTimer::singleShot(0, this, handler(this, &ResourcesWindow::reopenPool));
    });
    connect(m_ui->MainCombo, &QComboBox::activated, this,
            handler(this, &ResourcesWindow::MainComboChange));
    connect(m_ui->CategoryCombo, &QComboBox::activated, this,
            handler(this, &ResourcesWindow::CategoryComboChange));
    connect(m_ui->AddButton, &QPushButton::clicked, this,
            handler(this, &ResourcesWindow::AddButtonClick));
    connect(m_ui->AddRButton, &QPushButton::clicked, this,
            handler(this, &ResourcesWindow::AddRButtonClick));
    connect(m_ui->CancelRButton, &QPushButton::clicked, this,
            handler(this, &ResourcesWindow::CancelRButtonClick));
    connect(m_ui->Button1, &QPushButton::clicked, this,
            handler(this, &ResourcesWindow::Button1Click));
    connect(m_ui->ExistingSystemRadio, &QRadioButton::toggled, this,
            handler(this, &ResourcesWindow::AddRadioGroupClick));
    connect(m_ui->AddResourceButton, &QPushButton::clicked, this,
            handler(this, &ResourcesWindow::AddResourceButtonClick));
    connect(m_ui->ClearResourceButton, &QPushButton::clicked, this,
            handler(this, &ResourcesWindow::ClearResourceButtonClick));
    connect(m_ui->CloseButton, &QPushButton::clicked, this,
            handler(this, &ResourcesWindow::CloseButtonClick));
}

ResourcesWindow::~ResourcesWindow() = default;

void ResourcesWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        runHandler([this] { FormShow(); });
}

void ResourcesWindow::reject() {
    runHandler([this] { CloseButtonClick(); });
}

void ResourcesWindow::fillFilterList(QComboBox* list, const QString& field) {
    for (const QString& value : pool::fieldValues(m_dm, field))
        addSorted(list, value);
}

void ResourcesWindow::FormShow() {
    m_ui->MainCombo->clear();
    m_ui->CategoryCombo->clear();
    fillFilterList(m_ui->MainCombo, QStringLiteral("MAIN"));
    fillFilterList(m_ui->CategoryCombo, QStringLiteral("CATEGORY"));
    m_poolFilter.clear();
    m_dm.ResourceTableOpenClose(QStringLiteral("MAIN"), QString(), false, true);
    m_holdsPool = true;
}

void ResourcesWindow::reopenPool() {
    if (m_holdsPool && !m_dm.ResourceTable->isActive())
        m_dm.ResourceTableOpenClose(QStringLiteral("MAIN"), m_poolFilter, !m_poolFilter.isEmpty(),
                                    true);
}

void ResourcesWindow::MainComboChange() {
    m_ui->CategoryCombo->setEnabled(true);
}

void ResourcesWindow::CategoryComboChange() {
    const QString filter =
        DataModule::kindCategoryFilter(selected(m_ui->MainCombo), selected(m_ui->CategoryCombo));
    m_dm.ResourceTableOpenClose(QStringLiteral("MAIN"), filter, true, true);
    m_poolFilter = filter;
    m_ui->DBGrid1->show();
}

void ResourcesWindow::AddButtonClick() {
    m_ui->DBGrid1->hide();
    m_ui->ResourceGroup->show();
}

void ResourcesWindow::AddRButtonClick() {
    const pool::Resource r{.main = selected(m_ui->MainRCombo),
                           .category = selected(m_ui->CategoryRCombo),
                           .item = m_ui->ItemEdit->text(),
                           .serial = m_ui->SerialEdit->text(),
                           .part = m_ui->PartEdit->text(),
                           .model = m_ui->ModelEdit->text(),
                           .manufacturer = m_ui->ManufacturerEdit->text()};
    reopenPool();
    pool::addResource(*m_dm.ResourceTable, r); // on an error the boxes keep what was typed
    StatusNotes::post(QStringLiteral("\"%1\" added to the pool").arg(r.item));
    if (!r.main.isEmpty() &&
        m_ui->MainCombo->findText(r.main, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
        addSorted(m_ui->MainCombo, r.main);
    if (!r.category.isEmpty() &&
        m_ui->CategoryCombo->findText(r.category, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
        addSorted(m_ui->CategoryCombo, r.category);
    ClearGroup();
}

void ResourcesWindow::CancelRButtonClick() {
    ClearGroup();
}

void ResourcesWindow::ClearGroup() {
    m_ui->MainRCombo->setCurrentIndex(-1);
    m_ui->CategoryRCombo->setCurrentIndex(-1);
    for (QLineEdit* box : {m_ui->ItemEdit, m_ui->SerialEdit, m_ui->PartEdit, m_ui->ModelEdit,
                           m_ui->ManufacturerEdit})
        box->clear();
    m_ui->ResourceGroup->hide();
    m_ui->DBGrid1->show();
}

ResourcesWindow::Selection ResourcesWindow::selection() const {
    if (m_ui->DBGrid1->isHidden() || !m_ui->ResourceGroup->isHidden())
        return Selection::NotShown;
    const Table& pool = *m_dm.ResourceTable;
    if (!pool.isActive() || pool.state() != Table::State::Browse ||
        m_ui->DBGrid1->tableModel()->currentRow() < 0)
        return Selection::None;
    return Selection::Row;
}

void ResourcesWindow::Button1Click() {
    switch (selection()) {
    case Selection::NotShown:
        MessageService::information(
            this, QStringLiteral("The list of resources is not shown: choose a main category and "
                                 "a sub category first. Nothing was deleted."));
        return;
    case Selection::None:
        MessageService::information(this,
                                    QStringLiteral("There is no resource in the list to delete."));
        return;
    case Selection::Row:
        m_dm.ResourceTable->remove();
        return;
    }
}

void ResourcesWindow::AddRadioGroupClick() {
    if (!m_ui->ExistingSystemRadio->isChecked())
        return;
    QComboBox* list = m_ui->ExistingCombo;
    list->clear();
    list->addItems(pool::systemIds(m_dm));
    list->setCurrentIndex(-1);
    list->clearEditText();
}

void ResourcesWindow::AddResourceButtonClick() {
    if (!m_ui->ExistingSystemRadio->isChecked()) {
        MessageService::information(this, kNoSystem);
        return;
    }
    const QString sysId = m_ui->ExistingCombo->currentText();
    if (sysId.isEmpty() ||
        m_ui->ExistingCombo->findText(sysId, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
        MessageService::information(
            this, QStringLiteral("Choose a System ID from the list to add the resource to!"));
        return;
    }
    switch (selection()) {
    case Selection::NotShown:
        MessageService::information(
            this, QStringLiteral("The list of resources is not shown: choose a main category and "
                                 "a sub category, then the resource to add."));
        return;
    case Selection::None:
        MessageService::information(
            this, QStringLiteral("There is no resource in the list to add to the system."));
        return;
    case Selection::Row:
        break;
    }
    Table& pool = *m_dm.ResourceTable;
    // The row's own kind decides, whatever the main filter list now shows.
    const QString main = pool.fieldText(QStringLiteral("MAIN"));
    const pool::Kind kind = pool::kindOf(main);
    if (kind == pool::Kind::Neither) {
        MessageService::information(
            this, QStringLiteral("This resource's main category is \"%1\", neither HARDWARE nor "
                                 "SOFTWARE, so it cannot be added to a system. It stays in the "
                                 "pool.")
                      .arg(main));
        return;
    }
    const QString item = pool.fieldText(QStringLiteral("ITEM"));
    pool::giveToSystem(m_dm, pool, kind, sysId);
    StatusNotes::post(QStringLiteral("\"%1\" given to system %2").arg(item, sysId));
}

void ResourcesWindow::ClearResourceButtonClick() {
    m_ui->ExistingCombo->setCurrentIndex(-1);
    m_ui->ExistingCombo->clearEditText();
    // A lone radio button can only be unchecked with its exclusivity off.
    m_ui->ExistingSystemRadio->setAutoExclusive(false);
    m_ui->ExistingSystemRadio->setChecked(false);
    m_ui->ExistingSystemRadio->setAutoExclusive(true);
}

void ResourcesWindow::CloseButtonClick() {
    m_holdsPool = false;
    m_poolFilter.clear();
    m_ui->DBGrid1->hide();
    m_dm.ResourceTableOpenClose(QString(), QString(), false, false);
    m_ui->CategoryCombo->clear();
    m_ui->MainCombo->clear();
    m_ui->CategoryCombo->setEnabled(false);
    hide();
    if (m_main && m_main->isVisible())
        m_main->activateWindow();
}

} // namespace qn
