#include "snapshots.h"

#include "datamodule.h"
#include "engine.h"
#include "error.h"
#include "tablefile.h"
#include "tablelock.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

// A snapshot folder: Snapshots/<yyyyMMdd-HHmmss-zzz, UTC>/ with each table's .dbf and .mdx under
// its base name and manifest.txt, whose lines are "taken=<ISO UTC>", "reason=...",
// "systems=<n>" and one "file=<name> <size> <sha256>" per file. The files are copied into
// Snapshots/.partial-<name>-<pid>/, forced to disk, the manifest written last, then the folder
// renamed: a folder cut short keeps its .partial name and is never listed.

namespace qn::snapshots {
namespace {

const QString kManifest = QStringLiteral("manifest.txt");
const QString kPartial = QStringLiteral(".partial-");

struct Manifest {
    Snapshot snapshot;
    struct File {
        QString name;
        qint64 size = 0;
        QByteArray sha256; // hex
    };
    QList<File> files;
};

QByteArray sha256(const QString& path) {
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
        throw Error(QStringLiteral("Cannot read %1: %2").arg(path, f.errorString()));
    return hash.result().toHex();
}

void syncPath(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw Error(QStringLiteral("Cannot read %1.").arg(path));
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    if (!ok && !QFileInfo(path).isDir()) // some file systems refuse it on folders
        throw Error(QStringLiteral("Cannot write %1 to the disk.").arg(path));
}

std::optional<Manifest> readManifest(const QString& folder) {
    QFile f(QDir(folder).filePath(kManifest));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    Manifest m;
    m.snapshot.path = folder;
    bool systems = false;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        const QString key = line.section(u'=', 0, 0), value = line.section(u'=', 1);
        if (key == QLatin1String("taken"))
            m.snapshot.taken = QDateTime::fromString(value, Qt::ISODateWithMs);
        else if (key == QLatin1String("reason"))
            m.snapshot.reason = value;
        else if (key == QLatin1String("systems"))
            m.snapshot.systems = value.toInt(&systems);
        else if (key == QLatin1String("file")) {
            const QStringList parts = value.split(u' ');
            bool sized = false;
            if (parts.size() != 3)
                return std::nullopt;
            m.files.append({parts[0], parts[1].toLongLong(&sized), parts[2].toLatin1()});
            if (!sized)
                return std::nullopt;
        }
    }
    if (!m.snapshot.taken.isValid() || !systems || m.files.size() != 2 * lockOrder().size())
        return std::nullopt;
    return m;
}

// Every file there with the size the manifest gives (and, when thorough, its content).
bool whole(const Manifest& m, bool thorough) {
    const QDir dir(m.snapshot.path);
    for (const Manifest::File& f : m.files) {
        const QFileInfo info(dir.filePath(f.name));
        if (!info.isFile() || info.size() != f.size ||
            (thorough && sha256(info.filePath()) != f.sha256))
            return false;
    }
    return true;
}

// The five tables' files, open and write-locked in lockOrder(); released in reverse.
class Held {
public:
    Held(Engine& engine, const QString& folder) {
        for (const QString& base : lockOrder()) {
            const QString dbf = findFileIgnoringCase(folder, base + QStringLiteral(".dbf"));
            if (dbf.isEmpty())
                throw Error(QStringLiteral("The table %1 is missing in %2.").arg(base, folder));
            m_files.push_back(engine.openTableFile(dbf));
            m_locks.emplace_back(*m_files.back());
        }
    }
    ~Held() {
        while (!m_locks.empty())
            m_locks.pop_back();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    TableFile& file(int i) { return *m_files[size_t(i)]; }

private:
    std::vector<std::shared_ptr<TableFile>> m_files;
    std::vector<TableLock> m_locks;
};

QString fileName(const QString& base, const char* ext) {
    return base + QLatin1String(ext);
}

// A snapshot being written: copied under the locks, completed after.
class Taking {
public:
    Taking(const QString& databaseFolder, const QString& reason)
        : m_root(folderOf(databaseFolder)), m_taken(QDateTime::currentDateTimeUtc()),
          m_reason(QString(reason).replace(u'\n', u' ').replace(u'\r', u' ')) {
        m_name = m_taken.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
        m_partial = QDir(m_root).filePath(kPartial + m_name + u'-' +
                                          QString::number(QCoreApplication::applicationPid()));
        if (!QDir().mkpath(m_partial))
            throw Error(QStringLiteral("Cannot create the snapshot folder %1.").arg(m_partial));
    }
    ~Taking() {
        if (!m_partial.isEmpty())
            QDir(m_partial).removeRecursively();
    }
    Taking(const Taking&) = delete;
    Taking& operator=(const Taking&) = delete;

    void copy(Held& held) {
        const QStringList bases = lockOrder();
        for (int i = 0; i < bases.size(); ++i)
            held.file(i).copyFiles(QDir(m_partial).filePath(fileName(bases[i], ".dbf")),
                                   QDir(m_partial).filePath(fileName(bases[i], ".mdx")));
        m_systems = int(held.file(0).liveCount());
    }

    // Files to disk, then the manifest, then the dated name.
    QString finish() {
        QByteArray manifest = "taken=" + m_taken.toString(Qt::ISODateWithMs).toUtf8() +
                              "\nreason=" + m_reason.toUtf8() +
                              "\nsystems=" + QByteArray::number(m_systems) + '\n';
        for (const QString& base : lockOrder())
            for (const char* ext : {".dbf", ".mdx"}) {
                const QString path = QDir(m_partial).filePath(fileName(base, ext));
                syncPath(path);
                manifest += "file=" + fileName(base, ext).toUtf8() + ' ' +
                            QByteArray::number(QFileInfo(path).size()) + ' ' + sha256(path) + '\n';
            }
        QSaveFile out(QDir(m_partial).filePath(kManifest));
        if (!out.open(QIODevice::WriteOnly) || out.write(manifest) != manifest.size() ||
            !out.commit())
            throw Error(QStringLiteral("Cannot write the snapshot's manifest in %1: %2")
                            .arg(m_partial, out.errorString()));
        syncPath(m_partial);
        QString target = QDir(m_root).filePath(m_name);
        for (int n = 2; !QDir().rename(m_partial, target); ++n) { // taken in the same ms
            if (n > 20)
                throw Error(QStringLiteral("Cannot name the snapshot folder %1.").arg(target));
            target = QDir(m_root).filePath(m_name + u'-' + QString::number(n));
        }
        m_partial.clear();
        syncPath(m_root);
        return target;
    }

private:
    QString m_root;
    QDateTime m_taken;
    QString m_reason, m_name, m_partial;
    int m_systems = 0;
};

} // namespace

QStringList lockOrder() {
    return {QStringLiteral("Systems"), QStringLiteral("IP"), QStringLiteral("Hardware"),
            QStringLiteral("Software"), QStringLiteral("Resources")};
}

QString folderOf(const QString& databaseFolder) {
    return QDir(databaseFolder).filePath(QStringLiteral("Snapshots"));
}

QString take(Engine& engine, const QString& reason) {
    const QString folder = engine.aliasPath(QStringLiteral("IP"));
    Taking taking(folder, reason);
    {
        Held held(engine, folder);
        taking.copy(held);
    } // the locks go before the slow part: hashing and forcing to disk
    const QString path = taking.finish();
    prune(folder);
    return path;
}

QString takeBeforeBulkChange(DataModule& data, const QString& reason) {
    return take(data.engine(), reason);
}

QList<Snapshot> list(const QString& databaseFolder) {
    QList<Snapshot> out;
    const QDir root(folderOf(databaseFolder));
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (name.startsWith(u'.'))
            continue;
        const std::optional<Manifest> m = readManifest(root.filePath(name));
        if (m && whole(*m, false))
            out.append(m->snapshot);
    }
    std::sort(out.begin(), out.end(), [](const Snapshot& a, const Snapshot& b) {
        return a.taken != b.taken ? a.taken > b.taken : a.path > b.path;
    });
    return out;
}

QString restore(Engine& engine, const QString& snapshotFolder) {
    const QString folder = engine.aliasPath(QStringLiteral("IP"));
    // Checked and written back from a private copy: another program pruning or taking
    // snapshots meanwhile cannot change what is restored half-way.
    std::optional<Manifest> m = readManifest(snapshotFolder);
    const QString staged = QDir(folderOf(folder))
                               .filePath(kPartial + QStringLiteral("restore-") +
                                         QString::number(QCoreApplication::applicationPid()));
    struct Cleanup {
        QString path;
        ~Cleanup() { QDir(path).removeRecursively(); }
    } cleanup{staged};
    QDir(staged).removeRecursively();
    bool copied = m && QDir().mkpath(staged);
    for (qsizetype i = 0; copied && i < m->files.size(); ++i)
        copied = QFile::copy(QDir(snapshotFolder).filePath(m->files[i].name),
                             QDir(staged).filePath(m->files[i].name));
    if (m)
        m->snapshot.path = staged;
    if (!copied || !whole(*m, true))
        throw Error(QStringLiteral("The snapshot in %1 is incomplete or damaged; nothing was "
                                   "restored.")
                        .arg(snapshotFolder));
    const QString taken =
        m->snapshot.taken.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    Taking before(folder, QStringLiteral("Before restoring the snapshot of %1").arg(taken));
    QString beforePath;
    {
        Held held(engine, folder);
        before.copy(held);
        // Complete before the first table changes: a restore cut short can be undone.
        beforePath = before.finish();
        const QStringList bases = lockOrder();
        const QDir from(staged);
        for (int i = 0; i < bases.size(); ++i)
            held.file(i).restoreFiles(from.filePath(fileName(bases[i], ".dbf")),
                                      from.filePath(fileName(bases[i], ".mdx")));
    }
    prune(folder);
    return beforePath;
}

void prune(const QString& databaseFolder, int keep) {
    const QList<Snapshot> all = list(databaseFolder);
    for (qsizetype i = keep; i < all.size(); ++i)
        QDir(all[i].path).removeRecursively();
    const QDir root(folderOf(databaseFolder));
    const QDateTime stale = QDateTime::currentDateTimeUtc().addSecs(-3600);
    for (const QFileInfo& dir :
         root.entryInfoList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot))
        if (dir.fileName().startsWith(kPartial) && dir.lastModified().toUTC() < stale)
            QDir(dir.filePath()).removeRecursively();
}

} // namespace qn::snapshots
