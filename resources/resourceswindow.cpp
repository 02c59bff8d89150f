#include "resourceswindow.h"

#include "datamodule.h"
#include "error.h"
#include "guard.h"
#include "messageservice.h"
#include "poolrules.h"
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
    m_dm.ResourceTableOpenClose(field, QString(), false, true);
    struct Close {
        DataModule& dm;
        ~Close() { dm.ResourceTableOpenClose(QString(), QString(), false, false); }
    } close{m_dm};
    Table& pool = *m_dm.ResourceTable;
    // The tag brings equal values together, so comparing with the last one added suffices.
    QString last;
    for (pool.first(); !pool.eof(); pool.next()) {
        const QString value = pool.fieldText(field);
        if (!value.isEmpty() && value != last) {
            addSorted(list, value);
            last = value;
        }
    }
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
    struct Box {
        QString field;
        QString value;
        QString label;
    };
    const Box boxes[] = {
        {QStringLiteral("MAIN"), selected(m_ui->MainRCombo), QStringLiteral("Main")},
        {QStringLiteral("CATEGORY"), selected(m_ui->CategoryRCombo), QStringLiteral("Category")},
        {QStringLiteral("ITEM"), m_ui->ItemEdit->text(), QStringLiteral("Item")},
        {QStringLiteral("SERIAL"), m_ui->SerialEdit->text(), QStringLiteral("Serial No.")},
        {QStringLiteral("PART"), m_ui->PartEdit->text(), QStringLiteral("Part No.")},
        {QStringLiteral("MDL_LIC"), m_ui->ModelEdit->text(), QStringLiteral("Model No.")},
        {QStringLiteral("MANUF"), m_ui->ManufacturerEdit->text(), QStringLiteral("Manufacturer")},
    };
    Table& pool = *m_dm.ResourceTable;
    reopenPool();
    // Refused whole, with the box named, rather than stored cut short.
    for (const Box& b : boxes)
        if (b.value.size() > pool.fieldWidth(b.field))
            throw Error(QStringLiteral("%1 holds at most %2 characters; \"%3\" has %4. The "
                                       "resource was not added.")
                            .arg(b.label)
                            .arg(pool.fieldWidth(b.field))
                            .arg(b.value)
                            .arg(b.value.size()));
    pool.append();
    try {
        for (const Box& b : boxes)
            pool.setFieldText(b.field, b.value);
        pool.post();
    } catch (...) {
        pool.cancel();
        throw; // the boxes keep what was typed
    }
    const QString main = boxes[0].value;
    const QString category = boxes[1].value;
    if (!main.isEmpty() &&
        m_ui->MainCombo->findText(main, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
        addSorted(m_ui->MainCombo, main);
    if (!category.isEmpty() &&
        m_ui->CategoryCombo->findText(category, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
        addSorted(m_ui->CategoryCombo, category);
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
    {
        pool::BorrowedTable systems(m_dm, m_dm.SysTable, &DataModule::SysTableOpenClose,
                                    QStringLiteral("SysID"));
        for (systems->first(); !systems->eof(); systems->next())
            list->addItem(systems->fieldText(QStringLiteral("SYSID")));
    }
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
    const bool hardware = kind == pool::Kind::Hardware;
    pool::BorrowedTable items(
        m_dm, hardware ? m_dm.HWTable : m_dm.SWTable,
        hardware ? &DataModule::HWTableOpenClose : &DataModule::SWTableOpenClose, QString());
    items->append();
    try {
        pool::fillItem(pool, *items, kind, sysId);
        items->post();
    } catch (...) {
        items->cancel();
        throw; // the resource stays in the pool
    }
    try {
        pool.remove();
    } catch (...) {
        items->remove(); // not in two places at once
        throw;
    }
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
