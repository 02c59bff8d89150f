#pragma once

#include "application.h"
#include "engine.h"
#include "messageservice.h"
#include "table.h"
#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace qn::test {

// A working folder with Master tables and a private engine configuration, made current.
class Workspace {
public:
    Workspace() : m_old(QDir::currentPath()) {
        QDir().mkpath(m_dir.filePath("Master"));
        const QString master = test::buildDir() + "/Master";
        for (const QString& f : QDir(master).entryList(QDir::Files))
            QFile::copy(master + '/' + f, m_dir.filePath("Master/" + f));
        m_engine = std::make_unique<Engine>(m_dir.filePath("engine.cfg"));
        QDir::setCurrent(m_dir.path());
    }
    ~Workspace() { QDir::setCurrent(m_old); }
    QString path(const QString& name = {}) const {
        return name.isEmpty() ? m_dir.path() : m_dir.filePath(name);
    }
    Engine& engine() { return *m_engine; }
    void writeSettings(const QByteArray& bytes) {
        QFile f(path("setup.nfo"));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    }
    QByteArray settingsBytes() const {
        QFile f(path("setup.nfo"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    }
    QString alias() {
        m_engine->initialize();
        QString p = m_engine->hasAlias("IP") ? m_engine->aliasPath("IP") : QString("<none>");
        m_engine->shutdown();
        return p;
    }

private:
    QString m_old;
    QTemporaryDir m_dir;
    std::unique_ptr<Engine> m_engine;
};

/// The ten settings lines for a database folder and a prefix, then the password lines.
inline QByteArray settingsFile(const QString& db, const QByteArray& passwordLines,
                               const QByteArray& prefix = "QN") {
    return db.toLocal8Bit() + "\r\n" + prefix +
           "\r\nAcme\r\n1 Main St\r\nSpringfield\r\nIL\r\n62701\r\n"
           "555-0100\r\n555-0101\r\nit@acme.example\r\n" +
           passwordLines;
}

/// Appends one row to a table of the alias IP, through a table object of its own.
inline void addRow(Engine& engine, const QString& file,
                   const QList<QPair<QString, QString>>& values) {
    Table t(engine);
    t.setDatabaseName("IP");
    t.setTableName(file);
    t.open();
    t.append();
    for (const auto& [field, value] : values)
        t.setFieldText(field, value);
    t.post();
}

/// Types text into whichever control has the focus, one key at a time, as a user would.
inline void typeAtFocus(const QString& text) {
    for (QChar c : text)
        QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
}

} // namespace qn::test

/// main() for window tests: the program's application object, message boxes answered by the test.
#define QN_GUI_TEST_MAIN(TestClass)                                                                \
    int main(int argc, char** argv) {                                                              \
        qn::Application app(argc, argv);                                                           \
        qn::MessageService::setTestMode(true);                                                     \
        TestClass t;                                                                               \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&t, argc, argv);                                                       \
    }
