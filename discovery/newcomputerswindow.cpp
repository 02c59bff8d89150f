#include "newcomputerswindow.h"

#include "appstate.h"
#include "autodiscoverywindow.h"
#include "guard.h"
#include "messageservice.h"
#include "newcomputers.h"
#include "snapshots.h"
#include "statusnotes.h"
#include "systemrules.h"
#include "ui_newcomputerswindow.h"

#include <QAbstractTableModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScopeGuard>
#include <QScreen>
#include <utility>

namespace qn {

using reconcile::Finding;

/// The changed or the silent rows of a reconciliation, read where they are kept: a silent list
/// can hold nearly every recorded system.
class FindingsModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setFindings(const std::vector<Finding>* findings) {
        beginResetModel();
        m_findings = findings;
        endResetModel();
    }
    void setSilent(const reconcile::Reconciliation* of) {
        beginResetModel();
        m_silentOf = of;
        endResetModel();
    }
    const Finding* at(const QModelIndex& index) const {
        return index.isValid() && m_findings ? &(*m_findings)[size_t(index.row())] : nullptr;
    }
    int rowFor(uint32_t recNo) const {
        for (size_t r = 0; m_findings && r < m_findings->size(); ++r)
            if ((*m_findings)[r].row.recNo == recNo)
                return int(r);
        return -1;
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        if (parent.isValid())
            return 0;
        return m_findings   ? int(m_findings->size())
               : m_silentOf ? int(m_silentOf->silentCount())
                            : 0;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : m_silentOf ? 3 : 4;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
            return {};
        const reconcile::RecordedRow row = m_findings ? (*m_findings)[size_t(index.row())].row
                                                      : m_silentOf->silentRow(index.row());
        switch (index.column()) {
        case 0:
            return row.sysId;
        case 1:
            return row.computer;
        case 2:
            return row.address;
        default:
            return (*m_findings)[size_t(index.row())].found;
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const char* const titles[] = {"System ID", "Computer Name", "Recorded Address",
                                             "Found Address"};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
            section >= columnCount())
            return {};
        return QString::fromLatin1(titles[section]);
    }

private:
    const std::vector<Finding>* m_findings = nullptr;
    const reconcile::Reconciliation* m_silentOf = nullptr;
};

namespace {

void setUpView(QTableView* view, QAbstractItemModel* model) {
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    // Fixed modes: nothing is measured over the rows, however many there are.
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
}

} // namespace

NewComputersWindow::NewComputersWindow(AppState& state, DataModule& dm, AutoDiscoveryWindow& finder,
                                       QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::NewComputersWindow>()), m_state(state), m_dm(dm),
      m_finder(finder), m_changedModel(new FindingsModel(this)),
      m_silentModel(new FindingsModel(this)) {
    m_ui->setupUi(this);
    // Sizeable, without title-bar buttons.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setSizeGripEnabled(true);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    setUpView(m_ui->ChangedView, m_changedModel);
    setUpView(m_ui->SilentView, m_silentModel);

    connect(m_ui->AddButton, &QPushButton::clicked, this,
            handler(this, &NewComputersWindow::AddButtonClick));
    connect(m_ui->CancelButton, &QPushButton::clicked, this,
            handler(this, &NewComputersWindow::CancelButtonClick));
    connect(m_ui->CheckButton, &QPushButton::clicked, this,
            handler(this, &NewComputersWindow::CheckButtonClick));
    connect(m_ui->StopButton, &QPushButton::clicked, this,
            handler(this, &NewComputersWindow::StopButtonClick));
    connect(m_ui->UpdateAddressButton, &QPushButton::clicked, this,
            handler(this, &NewComputersWindow::UpdateAddressButtonClick));
    connect(m_ui->ViewTabs, &QTabWidget::currentChanged, this,
            handler(this, &NewComputersWindow::readRowsIfShown));
    connect(m_ui->ChangedView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &NewComputersWindow::showState);
    connect(&m_finder, &AutoDiscoveryWindow::listsChanged, this, &NewComputersWindow::runChanged);
    discovery::AutoFind& run = m_finder.finder();
    connect(&run, &discovery::AutoFind::listingRead, this, [this] { m_listingRead = true; });
    connect(&run, &discovery::AutoFind::failed, this, [this] { m_listingRead = false; });
    connect(&run, &discovery::AutoFind::finished, this,
            handler(this, &NewComputersWindow::runFinished));
    discovery::Resolver& resolver = m_finder.resolver();
    connect(&resolver, &discovery::Resolver::resolved, this,
            [this](const QString& name, const QString& address) { answered(name, address, true); });
    connect(&resolver, &discovery::Resolver::failed, this,
            [this](const QString& name, const QString&) { answered(name, QString(), false); });
    refresh();
    showFindings();
}

NewComputersWindow::~NewComputersWindow() = default;

void NewComputersWindow::showWindow() {
    refresh();
    // First shown after a run: its new computers, or when it found none, what it found about
    // the recorded ones. Later the window stays on the user's tab.
    if (std::exchange(m_chooseTab, false))
        m_ui->ViewTabs->setCurrentWidget(
            m_finder.newComputers().isEmpty() && m_rec ? m_ui->ChangedPage : m_ui->NewPage);
    // Other windows may have changed the addresses while this one was hidden.
    m_rowsStale = true;
    show();
    raise();
    activateWindow();
    readRowsIfShown();
}

void NewComputersWindow::refresh() {
    const discovery::NewComputers& list = m_finder.newComputers();
    m_ui->NameList->clear();
    m_ui->NameList->addItems(list.names);
    m_ui->IPlist->clear();
    m_ui->IPlist->addItems(list.addresses);
}

void NewComputersWindow::runChanged() {
    if (m_finder.isRunning() && m_rec) {
        // A new run: the last one's comparison no longer holds, and the resolver is its.
        stopChecking();
        m_changedModel->setFindings(nullptr);
        m_silentModel->setSilent(nullptr);
        m_rec.reset();
        showFindings();
    }
    refresh();
}

void NewComputersWindow::runFinished() {
    if (!std::exchange(m_listingRead, false))
        return; // cancelled before the listing was read: nothing to compare with
    const discovery::AutoFind& run = m_finder.finder();
    m_changedModel->setFindings(nullptr);
    m_silentModel->setSilent(nullptr);
    m_rec.emplace(run.listedNames(), run.listedAddresses());
    const discovery::NewComputers& found = m_finder.newComputers();
    for (qsizetype k = 0; k < found.size(); ++k)
        m_rec->found(found.names[k], found.addresses[k]);
    m_rowsStale = true;
    m_chooseTab = true;
    readRowsIfShown();
    showFindings();
}

void NewComputersWindow::readRowsIfShown() {
    if (!m_rec || !m_rowsStale || !isVisible() || m_ui->ViewTabs->currentWidget() == m_ui->NewPage)
        return;
    m_silentModel->setSilent(nullptr);
    m_rowsStale = true;
    m_rec->read(m_dm); // one pass over the address table
    m_rowsStale = false;
    m_silentModel->setSilent(&*m_rec);
    showFindings();
}

void NewComputersWindow::AddButtonClick() {
    if (m_finder.isRunning()) {
        MessageService::information(
            this, QStringLiteral("Auto-Find is still running. Add the new computers when it has "
                                 "finished."));
        return;
    }
    const QString prefix = m_state.settings.SysIdPrefix;
    const qsizetype count = m_finder.newComputers().size();
    // Several computers at once are a bulk change: it can be undone from the Admin window.
    if (count > 1)
        snapshots::takeBeforeBulkChange(m_dm,
                                        QStringLiteral("Auto-Find Add of %1 computers").arg(count));
    // Entries recorded before an error stay recorded and the lists stay as they were; the
    // error ends this handler.
    const auto refreshAfter = qScopeGuard([this] {
        m_rowsStale = true;
        refresh();
    });
    // Each ID is allocated and its rows written under the systems table's lock.
    discovery::addNewComputers(m_dm, m_finder.newComputers(),
                               [&](const discovery::WriteRows& write) {
                                   return systemrules::recordSystem(m_dm, prefix, QString(), write);
                               });
    if (count > 0)
        StatusNotes::post(count == 1 ? QStringLiteral("1 new computer added")
                                     : QStringLiteral("%1 new computers added").arg(count));
    hide();
}

void NewComputersWindow::CancelButtonClick() {
    hide();
}

void NewComputersWindow::reject() {
    CancelButtonClick();
}

void NewComputersWindow::CheckButtonClick() {
    if (!m_rec || m_checking || m_finder.isRunning())
        return;
    m_rowsStale = true; // the names to look up are the ones recorded now
    if (m_ui->ViewTabs->currentWidget() == m_ui->NewPage)
        m_ui->ViewTabs->setCurrentWidget(m_ui->ChangedPage);
    readRowsIfShown();
    m_queue = m_rec->toResolve();
    m_asked = 0;
    m_checking = !m_queue.isEmpty();
    lookUpNext();
}

void NewComputersWindow::lookUpNext() {
    if (m_checking && m_asked >= m_queue.size())
        m_checking = false;
    showFindings();
    if (m_checking)
        m_finder.resolver().lookup(m_queue[m_asked]);
}

void NewComputersWindow::answered(const QString& name, const QString& address, bool ok) {
    if (!m_checking || m_asked >= m_queue.size() || name != m_queue[m_asked])
        return; // an answer to Auto-Find's own look-ups, or to one given up
    if (ok)
        m_rec->found(name, address);
    else
        m_rec->notFound(name);
    ++m_asked;
    lookUpNext();
}

void NewComputersWindow::StopButtonClick() {
    stopChecking();
}

void NewComputersWindow::stopChecking() {
    if (!m_checking)
        return;
    m_checking = false; // first: the abandoned look-up's answer is not one of ours
    m_finder.resolver().abandon();
    showFindings();
}

void NewComputersWindow::UpdateAddressButtonClick() {
    const Finding* at = m_changedModel->at(m_ui->ChangedView->currentIndex());
    if (!m_rec || !at || m_rowsStale)
        return;
    const Finding chosen = *at;
    switch (reconcile::updateAddress(m_dm, chosen)) {
    case reconcile::UpdateOutcome::Taken:
        MessageService::information(
            this, QStringLiteral("IP Address already exists! Please choose another"));
        return;
    case reconcile::UpdateOutcome::Moved:
        m_rowsStale = true;
        readRowsIfShown();
        MessageService::information(
            this, QStringLiteral("The address of %1 was changed elsewhere since it was read. The "
                                 "lists show it as it is now.")
                      .arg(chosen.row.sysId));
        return;
    case reconcile::UpdateOutcome::Updated:
        m_rec->addressUpdated(chosen.row.recNo, chosen.found);
        showFindings();
        MessageService::information(this, QStringLiteral("Record Updated Successfully!"));
        return;
    }
}

void NewComputersWindow::showFindings() {
    // The chosen row stays chosen while the lists refill around it.
    const Finding* chosen = m_changedModel->at(m_ui->ChangedView->currentIndex());
    const uint32_t keep = chosen ? chosen->row.recNo : 0;
    const std::vector<Finding>* changed = m_rec && !m_rowsStale ? &m_rec->changed() : nullptr;
    {
        const QSignalBlocker quiet(m_ui->ChangedView->selectionModel());
        m_changedModel->setFindings(changed);
        if (const int row = keep ? m_changedModel->rowFor(keep) : -1; row >= 0)
            m_ui->ChangedView->setCurrentIndex(m_changedModel->index(row, 0));
    }
    showState();
}

void NewComputersWindow::showState() {
    const bool read = m_rec && !m_rowsStale;
    const QStringList pending = m_rec ? m_rec->toResolve() : QStringList();
    m_ui->CheckButton->setEnabled(!m_checking && !pending.isEmpty());
    m_ui->StopButton->setEnabled(m_checking);
    m_ui->UpdateAddressButton->setEnabled(
        read && m_changedModel->at(m_ui->ChangedView->currentIndex()) != nullptr);
    m_ui->CheckProgress->setRange(0, int(std::max<qsizetype>(1, m_queue.size())));
    m_ui->CheckProgress->setValue(int(m_asked));
    m_ui->CheckProgress->setVisible(m_checking);

    QString text;
    if (!m_rec) {
        text = QStringLiteral("After an Auto-Find run, the recorded computers it found at another "
                              "address are listed here.");
    } else if (m_checking) {
        text = QStringLiteral("Looking up %1 (%2 of %3)...")
                   .arg(m_queue[m_asked])
                   .arg(m_asked + 1)
                   .arg(m_queue.size());
    } else if (read) {
        text = QStringLiteral("Recorded computers answering at another address: %1.")
                   .arg(m_changedModel->rowCount());
        if (!pending.isEmpty())
            text += QStringLiteral(" Recorded names the network listed, not looked up yet: %1 "
                                   "(Check Addresses looks them up).")
                        .arg(pending.size());
        const QStringList failed = m_rec->unresolved();
        if (!failed.isEmpty())
            text += QStringLiteral(" Did not resolve, so neither changed nor silent: %1%2.")
                        .arg(failed.mid(0, 10).join(QStringLiteral(", ")),
                             failed.size() > 10 ? QStringLiteral(", ...") : QString());
    }
    m_ui->ChangedLabel->setText(text);
    m_ui->SilentLabel->setText(
        read ? QStringLiteral("Recorded computers the network's list does not name: %1.")
                   .arg(m_rec->silentCount())
             : QString());
}

} // namespace qn
