#pragma once

#include <QHash>
#include <QString>

#include <memory>
#include <unordered_map>

namespace qn {

class TableFile;

/// The table engine: its persistent aliases and the files open in this process. Aliases live in
/// a small configuration file (per user by default; tests pass a private one). Tables on the
/// same file share one TableFile so they never see stale data of each other.
class Engine {
public:
    /// Uses the per-user configuration file under the standard configuration folder.
    Engine();
    explicit Engine(const QString& configFile);
    ~Engine();

    static QString defaultConfigFile();
    const QString& configFile() const { return m_configFile; }

    /// Engine start and end around alias requests. Alias requests outside them are refused.
    void initialize();
    void shutdown();
    bool isInitialized() const { return m_initialized; }

    /// Adds or replaces a persistent alias. params is "PATH:" followed by the folder.
    void addAlias(const QString& name, const QString& params);
    /// Removes an alias; throws StoreError when there is none with this name.
    void deleteAlias(const QString& name);
    bool hasAlias(const QString& name) const;
    /// The folder an alias names; throws StoreError for an unknown alias.
    QString aliasPath(const QString& name) const;

    /// The shared state of an open table file (opened on first use, closed with its last user).
    std::shared_ptr<TableFile> openTableFile(const QString& dbfPath);

private:
    QHash<QString, QString> readAliases() const;
    void writeAliases(const QHash<QString, QString>& aliases);
    void requireInitialized() const;

    QString m_configFile;
    bool m_initialized = false;
    mutable QHash<QString, QString> m_cache;
    mutable qint64 m_cacheStamp = -2;
    std::unordered_map<std::string, std::weak_ptr<TableFile>> m_files;
};

/// Finds a file in a folder by name without regard to letter case; an empty string if absent.
QString findFileIgnoringCase(const QString& folder, const QString& name);

} // namespace qn
