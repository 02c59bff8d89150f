#include "ipviewwindow.h"

#include "appstate.h"
#include "datamodule.h"
#include "guard.h"
#include "hostswriter.h"
#include "messageservice.h"
#include "search.h"
#include "systemrules.h"
#include "table.h"
#include "ui_ipviewwindow.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <algorithm>

namespace qn {
namespace {

// The outer width the buttons' places are drawn for.
constexpr int kDesignOuterWidth = 834;
// The filter box above the grid, and the gap below it.
constexpr int kFilterHeight = 23;
constexpr int kGridTop = 8 + kFilterHeight + 6;

} // namespace

void createHostsFile(AppState& state, DataModule& dm, QWidget* parent) {
    hosts::createFile(dm, state.settings.DatabasePath);
    MessageService::information(parent, QStringLiteral("Data exported successfully!"));
}

IPViewWindow::IPViewWindow(AppState& state, DataModule& dm, QWidget* mainWindow,
                           QWidget* systemInfo, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::IPViewWindow>()), m_state(state), m_dm(dm),
      m_main(mainWindow), m_systemInfo(systemInfo) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    resize(826, 376);
    DBGrid* grid = m_ui->DBGrid;
    grid->bind(dm.IPTable,
               {QStringLiteral("SYSID"), QStringLiteral("IP1"), QStringLiteral("IP2"),
                QStringLiteral("IP3"), QStringLiteral("IP4"), QStringLiteral("COMPUTER"),
                QStringLiteral("TYPE"), QStringLiteral("TYPEDESC")});
    grid->tableModel()->setTitles({QStringLiteral("System ID"), QStringLiteral("IP Address")});
    grid->tableModel()->setSortColumns(1, {1, 2, 3, 4}); // the whole address, by its numbers
    connect(m_ui->FilterEdit, &QLineEdit::textChanged, this, [grid](const QString& text) {
        runHandler([&] { grid->tableModel()->setFilterText(text); });
    });
    grid->setEditable(true);
    grid->verticalHeader()->show();
    // The columns come and go with the table, so their widths are set each time; a title that
    // a larger desktop font makes wider than its column widens the column.
    auto widths = [grid] {
        const int w[] = {-1, 60, 60, 60, 60, 200, -1, 200};
        for (int i = 0; i < 8 && i < grid->model()->columnCount(); ++i)
            if (w[i] > 0)
                grid->setColumnWidth(i,
                                     std::max(w[i], grid->horizontalHeader()->sectionSizeHint(i)));
    };
    connect(grid->model(), &QAbstractItemModel::modelReset, this, widths);
    // The address key follows the octets whenever the view stores a row.
    m_keyHook = dm.IPTable->addPostHook([this] { recomputeKey(); });

    connect(m_ui->OpenButton, &QPushButton::clicked, this,
            handler(this, &IPViewWindow::OpenButtonClick));
    connect(m_ui->ExportButton, &QPushButton::clicked, this,
            handler(this, &IPViewWindow::ExportButtonClick));
    connect(m_ui->CancelButton, &QPushButton::clicked, this,
            handler(this, &IPViewWindow::CancelButtonClick));
}

IPViewWindow::~IPViewWindow() {
    m_dm.IPTable->removePostHook(m_keyHook);
}

int IPViewWindow::scaledLeft(int w, int designedLeft) {
    const qint64 num = qint64(w) * designedLeft;
    qint64 q = num / kDesignOuterWidth;
    const qint64 twice = 2 * (num % kDesignOuterWidth);
    if (twice > kDesignOuterWidth || (twice == kDesignOuterWidth && (q % 2) != 0))
        ++q;
    return int(q);
}

void IPViewWindow::recomputeKey() {
    Table& ip = *m_dm.IPTable;
    if (!isVisible() || ip.state() != Table::State::Edit)
        return;
    ip.setFieldText(QStringLiteral("IPString"),
                    systemrules::addressKey(
                        ip.fieldText(QStringLiteral("IP1")), ip.fieldText(QStringLiteral("IP2")),
                        ip.fieldText(QStringLiteral("IP3")), ip.fieldText(QStringLiteral("IP4"))));
}

void IPViewWindow::OpenButtonClick() {
    Table& ip = *m_dm.IPTable;
    const QString id =
        ip.isActive() && ip.recNo() != 0 ? ip.fieldText(QStringLiteral("SysID")) : QString();
    search::openForSystemInfo(m_dm, DataModule::oneSystemFilter(id));
    m_systemInfo->show();
    hide();
}

void IPViewWindow::ExportButtonClick() {
    // The view's table as it stands, from its first row; it ends on the last row.
    Table& ip = *m_dm.IPTable;
    QByteArray file;
    {
        Table::HoldObservers hold(ip); // the grid follows once, to where the table ends
        file = hosts::renderTable(ip, QLatin1String(hosts::kExportWord));
        ip.last();
    }
    hosts::write(m_state.settings.DatabasePath, file);
    MessageService::information(this, QStringLiteral("Data exported successfully!"));
}

void IPViewWindow::CancelButtonClick() {
    m_dm.IPTableOpenClose(QString(), QString(), false, false);
    hide();
    m_main->show();
}

void IPViewWindow::reject() {
    CancelButtonClick();
}

void IPViewWindow::FormResize() {
    const int w = frameGeometry().width();
    const int h = frameGeometry().height();
    m_ui->FilterEdit->setGeometry(8, 8, std::max(0, w - 16), kFilterHeight);
    m_ui->DBGrid->setGeometry(8, kGridTop, std::max(0, w - 16), std::max(0, h - 63 - kGridTop));
    m_ui->CancelButton->move(scaledLeft(w, 547), h - 56);
    m_ui->ExportButton->move(scaledLeft(w, 375), h - 56);
    m_ui->OpenButton->move(scaledLeft(w, 203), h - 56);
}

void IPViewWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    runHandler([this] { FormResize(); });
}

void IPViewWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormResize();
}

void IPViewWindow::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (event->spontaneous())
        return;
    // Shown again, the view opens in type order with every row.
    const QSignalBlocker quiet(m_ui->FilterEdit);
    m_ui->FilterEdit->clear();
    runHandler([this] { m_ui->DBGrid->resetOrder(); });
}

void IPViewWindow::FormDblClick() {
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    update();
}

void IPViewWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    QDialog::mouseDoubleClickEvent(event);
    FormDblClick();
}

void IPViewWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::ControlModifier) {
        runHandler([this] { deleteCurrent(); });
        return;
    }
    QDialog::keyPressEvent(event);
}

void IPViewWindow::deleteCurrent() {
    Table& ip = *m_dm.IPTable;
    if (!ip.isActive() || ip.recNo() == 0)
        return;
    if (MessageService::confirm(this, QStringLiteral("Delete record?")))
        ip.remove();
}

} // namespace qn
