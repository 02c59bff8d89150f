#include "engine.h"

#include "error.h"
#include "tablefile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

#include <sys/stat.h>

namespace qn {

Engine::Engine() : Engine(defaultConfigFile()) {}
Engine::Engine(const QString& configFile) : m_configFile(configFile) {}
Engine::~Engine() = default;

QString Engine::defaultConfigFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quillnet/engine.cfg");
}

void Engine::initialize() { m_initialized = true; }
void Engine::shutdown() { m_initialized = false; }

void Engine::requireInitialized() const {
    if (!m_initialized)
        throw StoreError(QStringLiteral("The table engine is not initialized."));
}

// The file holds one "NAME=PARAMS" line per alias.
QHash<QString, QString> Engine::readAliases() const {
    struct stat st {};
    QByteArray native = QFile::encodeName(m_configFile);
    qint64 stamp = ::stat(native.constData(), &st) == 0
                       ? qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec + st.st_size
                       : -1;
    if (stamp == m_cacheStamp)
        return m_cache;
    QHash<QString, QString> aliases;
    QFile file(m_configFile);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&file);
        in.setEncoding(QStringConverter::Utf8);
        QString line;
        while (in.readLineInto(&line)) {
            qsizetype eq = line.indexOf(u'=');
            if (eq > 0 && !line.startsWith(u'#'))
                aliases.insert(line.left(eq).trimmed().toUpper(), line.mid(eq + 1));
        }
    }
    m_cache = aliases;
    m_cacheStamp = stamp;
    return aliases;
}

void Engine::writeAliases(const QHash<QString, QString>& aliases) {
    QDir().mkpath(QFileInfo(m_configFile).absolutePath());
    QSaveFile file(m_configFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        throw StoreError(QStringLiteral("Cannot write the engine configuration %1: %2")
                             .arg(m_configFile, file.errorString()));
    QStringList names = aliases.keys();
    names.sort();
    QByteArray out = "# Quillnet table engine aliases\n";
    for (const QString& n : names)
        out += (n + u'=' + aliases.value(n) + u'\n').toUtf8();
    file.write(out);
    if (!file.commit())
        throw StoreError(QStringLiteral("Cannot write the engine configuration %1: %2")
                             .arg(m_configFile, file.errorString()));
    m_cacheStamp = -2;
}

void Engine::addAlias(const QString& name, const QString& params) {
    requireInitialized();
    if (name.trimmed().isEmpty() || name.contains(u'=') || name.contains(u'\n'))
        throw StoreError(QStringLiteral("Invalid alias name \"%1\".").arg(name));
    if (!params.startsWith(QStringLiteral("PATH:"), Qt::CaseInsensitive) || params.contains(u'\n'))
        throw StoreError(QStringLiteral("Invalid alias parameters \"%1\": PATH: expected.").arg(params));
    QHash<QString, QString> aliases = readAliases();
    aliases.insert(name.trimmed().toUpper(), params);
    writeAliases(aliases);
}

void Engine::deleteAlias(const QString& name) {
    requireInitialized();
    QHash<QString, QString> aliases = readAliases();
    if (!aliases.remove(name.trimmed().toUpper()))
        throw StoreError(QStringLiteral("Alias %1 does not exist.").arg(name));
    writeAliases(aliases);
}

bool Engine::hasAlias(const QString& name) const {
    return readAliases().contains(name.trimmed().toUpper());
}

QString Engine::aliasPath(const QString& name) const {
    QHash<QString, QString> aliases = readAliases();
    auto it = aliases.constFind(name.trimmed().toUpper());
    if (it == aliases.constEnd())
        throw StoreError(QStringLiteral("Unknown database alias: %1").arg(name));
    return it->mid(5);
}

std::shared_ptr<TableFile> Engine::openTableFile(const QString& dbfPath) {
    std::string key = QFileInfo(dbfPath).absoluteFilePath().toStdString();
    auto it = m_files.find(key);
    if (it != m_files.end())
        if (auto existing = it->second.lock(); existing && !existing->dbf().isRestructured())
            return existing; // a restructured one stays with its users until they close
    auto file = std::make_shared<TableFile>(dbfPath);
    m_files[key] = file;
    for (auto i = m_files.begin(); i != m_files.end();)
        i = i->second.expired() ? m_files.erase(i) : std::next(i);
    return file;
}

QString findFileIgnoringCase(const QString& folder, const QString& name) {
    QDir dir(folder);
    QString exact = dir.filePath(name);
    if (QFileInfo::exists(exact))
        return exact;
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& e : entries)
        if (e.compare(name, Qt::CaseInsensitive) == 0)
            return dir.filePath(e);
    return {};
}

} // namespace qn
