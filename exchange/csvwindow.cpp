#include "csvwindow.h"

#include "csvexchange.h"
#include "error.h"
#include "guard.h"
#include "messageservice.h"
#include "previewmodel.h"
#include "statusnotes.h"
#include "ui_csvwindow.h"

#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace qn {
namespace {

QString counted(int n, const QString& one, const QString& many) {
    return QStringLiteral("%1 %2").arg(n).arg(n == 1 ? one : many);
}

} // namespace

CsvWindow::CsvWindow(DataModule& dm, QWidget* mainWindow, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CsvWindow>()), m_dm(dm), m_main(mainWindow),
      m_model(new PreviewModel(this)) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint |
                   Qt::WindowCloseButtonHint);
    m_ui->PreviewGrid->setModel(m_model);
    m_ui->PreviewGrid->horizontalHeader()->setStretchLastSection(true);
    m_ui->PreviewGrid->verticalHeader()->setDefaultSectionSize(
        m_ui->PreviewGrid->fontMetrics().height() + 6);
    connect(m_model, &PreviewModel::ticksChanged, this, [this] { showSummary(); });
    connect(m_ui->ImportButton, &QPushButton::clicked, this,
            handler(this, &CsvWindow::ImportButtonClick));
    connect(m_ui->CancelButton, &QPushButton::clicked, this,
            handler(this, &CsvWindow::CancelButtonClick));
    m_chooseFolder = [](QWidget* owner) {
        return QFileDialog::getExistingDirectory(owner, tr("Export the inventory as CSV into"));
    };
    m_chooseFile = [](QWidget* owner) {
        return QFileDialog::getOpenFileName(owner, tr("Import systems from CSV"), QString(),
                                            tr("CSV files (*.csv);;All files (*)"));
    };
}

CsvWindow::~CsvWindow() = default;

void CsvWindow::ExportClick() {
    const QString folder = m_chooseFolder ? m_chooseFolder(m_main) : QString();
    if (folder.isEmpty())
        return;
    const csv::ExportSummary s = csv::exportInventory(m_dm, folder);
    QStringList files;
    for (int k = 0; k < csv::kTables; ++k)
        files << QStringLiteral("%1 (%2)").arg(csv::fileName(k),
                                               counted(s.rows[size_t(k)], tr("row"), tr("rows")));
    MessageService::information(
        m_main, tr("The inventory was exported as CSV, one file per table, into %1:\n%2.")
                    .arg(QDir::toNativeSeparators(s.folder), files.join(QStringLiteral(", "))));
}

void CsvWindow::ImportClick() {
    const QString file = m_chooseFile ? m_chooseFile(m_main) : QString();
    if (file.isEmpty())
        return;
    auto plan = std::make_unique<csv::ImportPlan>(csv::readImport(file));
    csv::classify(m_dm, *plan);
    m_model->setPlan(nullptr);
    m_plan = std::move(plan);
    m_model->setPlan(m_plan.get());
    m_ui->PreviewGrid->resizeColumnsToContents();
    setWindowTitle(tr("Import CSV - %1").arg(QDir::toNativeSeparators(m_plan->folder)));
    show();
    raise();
    activateWindow();
    m_ui->PreviewGrid->setFocus();
    if (m_model->rowCount() > 0)
        m_ui->PreviewGrid->setCurrentIndex(m_model->index(0, PreviewModel::Mark));
}

void CsvWindow::showSummary() {
    if (!m_plan) {
        m_ui->SummaryLabel->clear();
        m_ui->ImportButton->setEnabled(false);
        return;
    }
    int counts[4] = {}, ticked = 0;
    for (const csv::Candidate& c : m_plan->candidates) {
        ++counts[int(c.mark)];
        ticked += c.ticked;
    }
    m_ui->SummaryLabel->setText(
        tr("%1 System IDs: %2 new, %3 duplicate address, %4 duplicate System ID, %5 invalid. "
           "%6 ticked to import; only new ones can be ticked.")
            .arg(m_plan->candidates.size())
            .arg(counts[int(csv::Mark::New)])
            .arg(counts[int(csv::Mark::DuplicateAddress)])
            .arg(counts[int(csv::Mark::DuplicateId)])
            .arg(counts[int(csv::Mark::Invalid)])
            .arg(ticked));
    m_ui->ImportButton->setEnabled(ticked > 0);
}

void CsvWindow::refresh() {
    auto plan = std::make_unique<csv::ImportPlan>(*m_plan);
    csv::classify(m_dm, *plan);
    m_model->setPlan(nullptr);
    m_plan = std::move(plan);
    m_model->setPlan(m_plan.get());
}

void CsvWindow::ImportButtonClick() {
    csv::ImportResult r;
    try {
        r = csv::importTicked(m_dm, *m_plan);
    } catch (const Error&) {
        refresh(); // nothing was stored: show what stands in the way now
        throw;
    }
    hide();
    const QString text = tr("%1 imported: %2, %3, %4.")
                             .arg(counted(r.systems, tr("system"), tr("systems")),
                                  counted(r.rows[0], tr("systems row"), tr("systems rows")),
                                  counted(r.rows[1], tr("address row"), tr("address rows")),
                                  counted(r.rows[2] + r.rows[3], tr("item"), tr("items")));
    StatusNotes::post(text);
    MessageService::information(m_main, text);
}

void CsvWindow::hideEvent(QHideEvent* event) {
    // A preview holds every line of its files, hundreds of MB for a large inventory: it goes
    // with the window.
    m_model->setPlan(nullptr);
    m_plan.reset();
#ifdef __GLIBC__
    malloc_trim(0); // the lines were many small blocks: give the freed pages back
#endif
    QDialog::hideEvent(event);
}

void CsvWindow::CancelButtonClick() {
    hide();
}

} // namespace qn
