#pragma once

#include <QString>
#include <QStringList>

namespace qn {

class Engine;

/// Fills a database folder from the empty tables in the working folder's "Master" folder and
/// points the engine alias IP at it. Copy failures are not reported: a missing table shows up
/// when it is opened.
namespace provisioning {

/// The files of each table in copying order, as copied at start-up (18) and by the Admin
/// window's Save (20).
QStringList startupFiles();
QStringList adminSaveFiles();

/// At every start with a settings file: repairs a folder from which a table's .dbf has gone
/// (replacing the IP files, keeping any other file that exists), or creates the folder (one
/// level) and fills it; then re-registers the alias. Throws Error when the folder cannot be made.
void startup(const QString& databasePath, const QString& workingFolder, Engine& engine);

/// For the Admin window's Save: a folder that already holds IP.dbf receives nothing; otherwise
/// it is created if missing (one level) and every file copied that is not there yet. Throws
/// Error when the folder cannot be made.
void prepareAdminFolder(const QString& databasePath, const QString& workingFolder);

/// Adds the persistent alias IP for the folder, removing an old one first when asked. Engine
/// refusals are ignored: the next start registers it again.
void registerAlias(Engine& engine, const QString& databasePath, bool removeFirst);

} // namespace provisioning
} // namespace qn
