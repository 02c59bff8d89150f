#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

namespace qn {
class DataModule;
class Engine;
} // namespace qn

namespace qn::snapshots {

/// Snapshots a database folder keeps: when a new one is complete, the oldest beyond this many
/// are removed.
constexpr int kKept = 10;

/// The five tables are held in this order (base names of their files), by every snapshot and
/// restore and by Auto-Find's Add (systems, then addresses), so that two processes holding
/// several of them never wait for each other in a circle.
QStringList lockOrder();

/// A complete snapshot: its folder and what its manifest says.
struct Snapshot {
    QString path;
    QDateTime taken; // UTC
    QString reason;
    int systems = 0; // live rows of the systems table at that moment
};

/// Before a bulk change (an import, an Auto-Find Add of several computers): copies the
/// inventory's tables and their production indexes into a new dated folder inside the database
/// folder, holding the tables' write locks so that the copy is one consistent moment, and
/// removes the oldest snapshots beyond the number kept. Returns the new folder's path. Throws
/// qn::Error when the copy cannot be made; the bulk change must not go ahead then.
QString takeBeforeBulkChange(DataModule& data, const QString& reason);
/// The same for the folder of the engine's alias IP.
QString take(Engine& engine, const QString& reason);

/// The folder inside a database folder that holds its snapshots.
QString folderOf(const QString& databaseFolder);
/// The complete snapshots of a database folder, newest first. A folder is complete once its
/// manifest is written (after every file reached the disk) and it is renamed to its dated name;
/// one cut short by a killed process, or whose files no longer have the sizes the manifest
/// gives, is not listed.
QList<Snapshot> list(const QString& databaseFolder);

/// Puts the snapshot in this folder back in place of the tables of the engine's alias IP,
/// after checking every file against its manifest. First takes a snapshot of the tables as
/// they are, under the same locks, so that the restore can be undone. Other processes with the
/// tables open read the restored rows and indexes at their next step. Returns the path of that
/// snapshot. Throws qn::Error before anything is changed when the snapshot is damaged or a
/// table is busy.
QString restore(Engine& engine, const QString& snapshotFolder);

/// Removes the oldest complete snapshots beyond keep, and folders of copies abandoned more
/// than an hour ago.
void prune(const QString& databaseFolder, int keep = kKept);

} // namespace qn::snapshots
