#include "provisioning.h"

#include "engine.h"
#include "error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace qn::provisioning {
namespace {

const char* const kSets[] = {"IP", "Resources", "Systems", "Software", "Hardware"};

QStringList filesOf(const QString& set, bool startup) {
    // Start-up knows only the .dbf and .mdx of the systems table.
    if (startup && set == QLatin1String("Systems"))
        return {set + QStringLiteral(".dbf"), set + QStringLiteral(".mdx")};
    return {set + QStringLiteral(".dbf"), set + QStringLiteral(".dbk"),
            set + QStringLiteral(".mdx"), set + QStringLiteral(".mbk")};
}

QString target(const QString& folder, const QString& name) {
    return folder + QDir::separator() + name;
}

QString source(const QString& workingFolder, const QString& name) {
    return workingFolder + QDir::separator() + QStringLiteral("Master") + QDir::separator() + name;
}

// The engine matches file names without regard to case, so "IP.DBF" written by another
// program is the same table as "IP.dbf".
bool present(const QString& folder, const QString& name) {
    return !findFileIgnoringCase(folder, name).isEmpty();
}

void copy(const QString& workingFolder, const QString& folder, const QString& name, bool replace) {
    const QString from = source(workingFolder, name);
    const QString existing = findFileIgnoringCase(folder, name);
    if (!existing.isEmpty()) {
        if (!replace || !QFileInfo::exists(from))
            return;
        QFile::remove(existing);
    }
    QFile::copy(from, target(folder, name));
}

// One level only: a missing parent is an error, as it would be on a network drive that is not
// there.
void makeFolder(const QString& folder) {
    if (folder.isEmpty())
        throw Error(QStringLiteral("No database folder is given: enter the full path of the "
                                   "folder for the tables."));
    if (::mkdir(QFile::encodeName(folder).constData(), 0777) != 0)
        throw Error(QStringLiteral("Cannot create the database folder %1: %2")
                        .arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
}

} // namespace

QStringList startupFiles() {
    QStringList out;
    for (const char* set : kSets)
        out += filesOf(QLatin1String(set), true);
    return out;
}

QStringList adminSaveFiles() {
    QStringList out;
    for (const char* set : kSets)
        out += filesOf(QLatin1String(set), false);
    return out;
}

void startup(const QString& databasePath, const QString& workingFolder, Engine& engine) {
    if (QFileInfo(databasePath).isDir()) {
        for (const char* set : kSets) {
            const QString name = QLatin1String(set);
            if (present(databasePath, name + QStringLiteral(".dbf")))
                continue;
            for (const QString& file : filesOf(name, true))
                copy(workingFolder, databasePath, file, name == QLatin1String("IP"));
        }
    } else {
        makeFolder(databasePath);
        for (const QString& file : startupFiles())
            copy(workingFolder, databasePath, file, false);
    }
    registerAlias(engine, databasePath, true);
}

void prepareAdminFolder(const QString& databasePath, const QString& workingFolder) {
    if (QFileInfo(databasePath).isDir()) {
        if (present(databasePath, QStringLiteral("IP.dbf")))
            return;
    } else {
        makeFolder(databasePath);
    }
    for (const QString& file : adminSaveFiles())
        copy(workingFolder, databasePath, file, false);
}

void registerAlias(Engine& engine, const QString& databasePath, bool removeFirst) {
    try {
        engine.initialize();
        if (removeFirst && engine.hasAlias(QStringLiteral("IP")))
            engine.deleteAlias(QStringLiteral("IP"));
        engine.addAlias(QStringLiteral("IP"), QStringLiteral("PATH:") + databasePath);
    } catch (const Error&) {
        // Not reported: the alias is registered again at the next start.
    }
    engine.shutdown();
}

} // namespace qn::provisioning
