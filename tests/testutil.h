#pragma once

#include "dbffile.h"
#include "engine.h"
#include "mdxfile.h"
#include "schema.h"
#include "table.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace qn::test {

/// A private working folder with its own engine configuration and an alias IP pointing at a
/// database folder inside it.
class Sandbox {
public:
    /// The alias points at db instead when it is given.
    explicit Sandbox(const QString& db = {});
    QString path() const { return m_dir.path(); }
    QString dbPath() const { return m_db; }
    Engine& engine() { return *m_engine; }
    /// Another engine on the same folder, as a second process has (its own descriptors).
    std::unique_ptr<Engine> otherEngine(const QString& name);
    /// Writes the five empty inventory tables into the database folder.
    void createInventory() { schema::createAll(dbPath()); }
    QString file(const QString& name) const { return dbPath() + u'/' + name; }
    /// A table of the alias IP, open in the given tag's order.
    std::unique_ptr<Table> open(const QString& table, const QString& tag = {}) {
        return openTable(*m_engine, table, tag);
    }
    static std::unique_ptr<Table> openTable(Engine& engine, const QString& table,
                                            const QString& tag = {});

private:
    QTemporaryDir m_dir;
    QString m_db;
    std::unique_ptr<Engine> m_engine;
};

using Values = std::vector<std::pair<QString, QString>>;
/// Appends and posts one row with the given field texts.
void appendRow(Table& t, const Values& values);
/// Edits the current row with the given field texts and posts it.
void editRow(Table& t, const Values& values);
/// Looks the key up through the current tag; the field's text on the row found, or "".
QString findKey(Table& t, const Values& key, const QString& field);
/// The field's text on every row, in the table's order.
QStringList fieldValues(Table& t, const QString& field);
/// The field's text on every row of the file, deleted or not, read past the table object.
QStringList storedValues(const QString& dbf, const QString& field);
/// Fails unless the action throws a StoreError whose message contains part.
void expectStoreError(const std::function<void()>& action, const QString& part);

QByteArray fileBytes(const QString& path);
void writeBytes(const QString& path, const QByteArray& bytes);

/// A worker process (tests/store_worker.cpp), another user of the tables. Shim settings
/// (QNSLOW_...) preload the latency shim, which slows its table file calls: reads answer late
/// (the answer is old when seen), locks are taken late.
using Worker = std::unique_ptr<QProcess>;
Worker startWorker(const QStringList& args, const QStringList& shim = {}, int lockMs = 10000);
/// Waits for a line of the worker's output; the line or empty if it ended first.
QString waitForLine(QProcess& p);

/// Runs a program and returns its standard output. Without exitCode a failure is warned of;
/// with it, a crash gives -1.
QByteArray run(const QString& program, const QStringList& args, int* exitCode = nullptr,
               QByteArray* err = nullptr);

/// Runs this test program again as `unshare prefix... <program and its arguments>`, first
/// probing that unshare is permitted; envVar is set to "active" in that run, or to "none" when
/// the program runs plainly because unshare was refused (why is printed with what). Returns the
/// run's exit code.
int rerunUnderUnshare(const QStringList& prefix, int argc, char** argv, const char* envVar,
                      const char* what);

inline QString sourceDir() {
    return qEnvironmentVariable("QUILLNET_SOURCE_DIR", QStringLiteral("."));
}
inline QString buildDir() {
    return qEnvironmentVariable("QUILLNET_BUILD_DIR", QStringLiteral("."));
}

} // namespace qn::test
