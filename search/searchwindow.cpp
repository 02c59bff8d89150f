#include "searchwindow.h"

#include "datamodule.h"
#include "guard.h"
#include "messageservice.h"
#include "table.h"
#include "ui_searchwindow.h"

#include <QButtonGroup>
#include <QCompleter>
#include <QLineEdit>
#include <QScopeGuard>
#include <QScreen>
#include <QShowEvent>
#include <QStringListModel>

namespace qn {

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
    // Completion is offered in a list of the values holding what was typed, anywhere in them;
    // the box holds only what was typed or picked, so Find never looks up a value the user did
    // not enter.
    QCompleter* completer = m_ui->SearchList->completer();
    completer->setCompletionMode(QCompleter::PopupCompletion);
    completer->setFilterMode(Qt::MatchContains);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setMaxVisibleItems(20);
    m_ui->SearchList->setMaxVisibleItems(20);
    connect(m_items, &QButtonGroup::idClicked, this,
            handler(this, &SearchWindow::SearchGroupClick));
    connect(m_ui->FindButton, &QPushButton::clicked, this,
            handler(this, &SearchWindow::FindButtonClick));
    connect(m_ui->CancelButton, &QPushButton::clicked, this,
            handler(this, &SearchWindow::CancelButtonClick));
    chooseNone();
}

SearchWindow::~SearchWindow() = default;

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
    m_ui->SearchList->clear();
    m_ui->Label1->setText(search::prompt(m_criterion));
    m_ui->Label1->show();
    m_ui->SearchList->show();
    const QStringList values = search::values(m_dm, m_criterion);
    static_cast<QStringListModel*>(m_ui->SearchList->model())->setStringList(values);
    m_ui->SearchList->setCurrentIndex(-1);
    m_ui->SearchList->clearEditText();
}

void SearchWindow::FindButtonClick() {
    // Emptied once the search is done; kept, with the typed value, when it found nothing.
    auto emptyList = qScopeGuard([this] { m_ui->SearchList->clear(); });

    m_dm.IPTable->setDatabaseName(QStringLiteral("IP"));
    m_dm.IPTable->setTableName(QStringLiteral("IP.dbf"));
    m_dm.IPTableOpenClose(QStringLiteral("Type"), QString(), false, true);
    if (m_criterion == None) {
        MessageService::information(this, QStringLiteral("You MUST select a search criteria!"));
        return;
    }
    const QString filter = search::find(m_dm, m_criterion, m_ui->SearchList->currentText());
    if (filter.isNull()) {
        MessageService::information(this, search::notFoundMessage(m_criterion));
        emptyList.dismiss();
        retry();
        return;
    }
    handOver(filter);
}

// Nothing found: the criterion and the typed value stay, selected, for the user to correct.
void SearchWindow::retry() {
    m_ui->SearchList->setFocus(Qt::TabFocusReason);
    m_ui->SearchList->lineEdit()->selectAll();
}

void SearchWindow::handOver(const QString& systemsFilter) {
    search::openForSystemInfo(m_dm, systemsFilter);
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
