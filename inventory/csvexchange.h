#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <vector>

namespace qn {

class DataModule;

/// The inventory's systems in and out as CSV: one UTF-8 file per table (Systems.csv, IP.csv,
/// Hardware.csv, Software.csv), each with a header row of the table's field names. One file per
/// table rather than one joined file, because it carries every row as it is stored: a system
/// with two address rows, items whose system is gone, the rows' order. The resource pool holds
/// no systems and is not exchanged.
namespace csv {

/// The exchanged tables, in this order everywhere: Systems, IP, Hardware, Software.
inline constexpr int kTables = 4;
const std::array<QString, kTables>& tableNames();
/// "Systems.csv", ... in the same order.
QString fileName(int table);

/// One line of CSV: fields quoted when they hold a comma, a quote, a line break or begin with
/// a blank, quotes doubled; CR LF at the end.
QByteArray encodeRow(const QStringList& fields);

struct Record {
    int line = 0; // where the record starts in its file, from 1
    QStringList fields;
};
/// The records of UTF-8 CSV text (a leading byte-order mark is skipped; CR LF or LF end a
/// record; a quoted field may hold line breaks). Throws Error naming fileName and the line of a
/// quote left open or of bytes that are not UTF-8.
QList<Record> parse(const QByteArray& utf8, const QString& fileName);

struct ExportSummary {
    QString folder;
    std::array<int, kTables> rows{};
};
/// Writes the four files into folder, each replaced only once it is complete (the rows in the
/// tables' physical order, a date as yyyy-MM-dd). Throws Error when a file cannot be written.
ExportSummary exportInventory(DataModule& dm, const QString& folder);

/// What a group of imported rows (every row of one System ID) would be to the inventory.
enum class Mark { New, DuplicateAddress, DuplicateId, Invalid };
QString markText(Mark mark);

struct SourceRow {
    int line = 0;
    int candidate = 0;  // index into ImportPlan::candidates
    QStringList values; // in the order of the table's fields
    QString problem;    // found while reading (a wrong number of fields)
};

/// The rows of one System ID across the four files, shown as one line of the preview.
struct Candidate {
    QString sysId;
    Mark mark = Mark::New;
    QString why; // what makes it a duplicate or invalid
    bool ticked = false;
    QString address, computer, user; // as the preview shows them
    std::array<int, kTables> rows{};
    bool tickable() const { return mark == Mark::New; }
};

struct ImportPlan {
    QString folder;
    QStringList filesRead;
    std::array<std::vector<SourceRow>, kTables> rows; // each file's rows in file order
    std::vector<Candidate> candidates;                // by first appearance
};

/// Reads Systems.csv, or the file chosen, and the other three from the same folder when they
/// are there. Columns are matched to fields by their header names, in any order; a missing
/// column reads as empty. Throws Error for a file that cannot be read, an unknown or repeated
/// column, or a file without a SYSID column.
ImportPlan readImport(const QString& chosenFile);

/// Marks (again) every candidate against its own fields, the rest of the file and the stored
/// inventory, and ticks the new ones. An imported System ID is kept as it is, whatever the
/// inventory's prefix; one that is stored already is refused, never renumbered. Opens and
/// closes the tables it looks into.
void classify(DataModule& dm, ImportPlan& plan);

struct ImportResult {
    int systems = 0;
    std::array<int, kTables> rows{};
    QString snapshot;
};
/// Called at the points of an import a test stops it at: "appended" (every row written into
/// the groups, none committed) and after each table's commit with its name.
using Step = std::function<void(const QString& step)>;
/// Stores every ticked candidate, or none: takes a snapshot, holds the four tables' write
/// locks, checks each ticked System ID and address again against what is stored now (another
/// user may have added one meanwhile), appends every row in file order through a TableGroup
/// per table, and commits items first, then IP rows, then systems rows last, so that a kill
/// between two commits leaves only rows whose system row is missing. Throws Error saying why
/// when nothing was stored.
ImportResult importTicked(DataModule& dm, const ImportPlan& plan, const Step& step = {});

} // namespace csv
} // namespace qn
