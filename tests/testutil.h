#pragma once

#include "dbffile.h"
#include "engine.h"
#include "mdxfile.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace qn::test {

/// A private working folder with its own engine configuration and an alias IP pointing at a
/// database folder inside it.
class Sandbox {
public:
    Sandbox();
    QString path() const { return m_dir.path(); }
    QString dbPath() const { return m_dir.path() + QStringLiteral("/db"); }
    Engine& engine() { return *m_engine; }
    /// Writes the five empty inventory tables into the database folder.
    void createInventory();
    QString file(const QString& name) const { return dbPath() + u'/' + name; }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Engine> m_engine;
};

/// Runs a program and returns its standard output; fails the test on a non-zero exit.
QByteArray run(const QString& program, const QStringList& args, int* exitCode = nullptr);

/// Runs this test program again as `unshare prefix... <program and its arguments>`, first
/// probing that unshare is permitted; envVar is set to "active" in that run, or to "none" when
/// the program runs plainly because unshare was refused (why is printed with what). Returns the
/// run's exit code.
int rerunUnderUnshare(const QStringList& prefix, int argc, char** argv, const char* envVar,
                      const char* what);

QString sourceDir();
QString buildDir();

} // namespace qn::test
