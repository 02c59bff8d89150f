// Filling a database folder from the Master tables, in the two ways the program does it.
#include "engine.h"
#include "error.h"
#include "provisioning.h"
#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qn;

class TestProvisioning : public QObject {
    Q_OBJECT
private slots:
    void init();
    void fileLists();
    void completeFolderGetsNothing();
    void startupRepairsOnlyTheMissingTable();
    void startupReplacesTheIpFiles();
    void startupCreatesANewFolder();
    void startupWithMissingParentFails();
    void adminSaveFillsNewAndEmptyFolders();
    void aliasFollowsTheFolder();

private:
    QString work() const { return m_dir->path(); }
    QString db() const { return m_dir->filePath("db"); }
    QStringList files(const QString& folder) const {
        return QDir(folder).entryList(QDir::Files, QDir::Name);
    }
    void mark(const QString& file) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("mine");
    }
    QByteArray contents(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Engine> m_engine;
};

void TestProvisioning::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QDir().mkpath(m_dir->filePath("Master"));
    const QString master = test::buildDir() + "/Master";
    for (const QString& f : QDir(master).entryList(QDir::Files))
        QVERIFY(QFile::copy(master + '/' + f, m_dir->filePath("Master/" + f)));
    m_engine = std::make_unique<Engine>(m_dir->filePath("engine.cfg"));
}

void TestProvisioning::fileLists() {
    QStringList s = provisioning::startupFiles(), a = provisioning::adminSaveFiles();
    QCOMPARE(s.size(), 18);
    QCOMPARE(a.size(), 20);
    QCOMPARE(s.first(), QString("IP.dbf"));
    QCOMPARE(s.mid(8, 2), (QStringList{"Systems.dbf", "Systems.mdx"}));
    QCOMPARE(a.mid(8, 4),
             (QStringList{"Systems.dbf", "Systems.dbk", "Systems.mdx", "Systems.mbk"}));
    QCOMPARE(a.last(), QString("Hardware.mbk"));
    // Every one of them exists in the Master folder the build makes.
    for (const QString& f : a)
        QVERIFY2(QFile::exists(m_dir->filePath("Master/" + f)), qPrintable(f));
}

// Tables in place, in any letter case: nothing copied, by either way.
void TestProvisioning::completeFolderGetsNothing() {
    QDir().mkdir(db());
    for (const char* t : {"IP.dbf", "RESOURCES.DBF", "Systems.dbf", "SOFTWARE.DBF", "Hardware.dbf"})
        mark(db() + "/" + t);
    provisioning::startup(db(), work(), *m_engine);
    QCOMPARE(files(db()).size(), 5);
    QCOMPARE(contents(db() + "/IP.dbf"), QByteArray("mine"));
    provisioning::prepareAdminFolder(db(), work());
    QCOMPARE(files(db()).size(), 5);
}

void TestProvisioning::startupRepairsOnlyTheMissingTable() {
    QDir().mkdir(db());
    for (const char* t : {"IP", "Resources", "Software", "Hardware"})
        mark(db() + "/" + t + ".dbf");
    mark(db() + "/Systems.mdx");
    provisioning::startup(db(), work(), *m_engine);
    QCOMPARE(files(db()), (QStringList{"Hardware.dbf", "IP.dbf", "Resources.dbf", "Software.dbf",
                                       "Systems.dbf", "Systems.mdx"}));
    QCOMPARE(contents(db() + "/Systems.mdx"), QByteArray("mine")); // not replaced
    QCOMPARE(contents(db() + "/Systems.dbf"), contents(work() + "/Master/Systems.dbf"));
}

void TestProvisioning::startupReplacesTheIpFiles() {
    QDir().mkdir(db());
    for (const char* t : {"Resources", "Systems", "Software", "Hardware"})
        mark(db() + "/" + t + ".dbf");
    mark(db() + "/IP.mdx");
    provisioning::startup(db(), work(), *m_engine);
    for (const char* f : {"IP.dbf", "IP.dbk", "IP.mdx", "IP.mbk"})
        QCOMPARE(contents(db() + "/" + f), contents(work() + "/Master/" + f));
    QCOMPARE(files(db()).size(), 8);
}

void TestProvisioning::startupCreatesANewFolder() {
    provisioning::startup(db(), work(), *m_engine);
    QStringList expected = provisioning::startupFiles();
    expected.sort();
    QCOMPARE(files(db()), expected);
    QVERIFY(!QFile::exists(db() + "/Systems.dbk"));
}

void TestProvisioning::startupWithMissingParentFails() {
    const QString deep = m_dir->filePath("no/such/db");
    try {
        provisioning::startup(deep, work(), *m_engine);
        QFAIL("no error");
    } catch (const Error& e) {
        QVERIFY2(e.message().contains(deep), qPrintable(e.message()));
    }
    QVERIFY(!QFile::exists(m_dir->filePath("no")));
    m_engine->initialize();
    QVERIFY(!m_engine->hasAlias("IP"));
    QVERIFY_THROWS_EXCEPTION(Error, provisioning::prepareAdminFolder("", work()));
}

void TestProvisioning::adminSaveFillsNewAndEmptyFolders() {
    provisioning::prepareAdminFolder(db(), work());
    QStringList expected = provisioning::adminSaveFiles();
    expected.sort();
    QCOMPARE(files(db()), expected);

    // An existing folder without IP.dbf gets every file that is not there yet.
    const QString other = m_dir->filePath("other");
    QDir().mkdir(other);
    mark(other + "/Systems.dbf");
    provisioning::prepareAdminFolder(other, work());
    QCOMPARE(files(other), expected);
    QCOMPARE(contents(other + "/Systems.dbf"), QByteArray("mine"));
    // A folder with IP.dbf gets nothing.
    const QString third = m_dir->filePath("third");
    QDir().mkdir(third);
    mark(third + "/IP.dbf");
    provisioning::prepareAdminFolder(third, work());
    QCOMPARE(files(third), QStringList{"IP.dbf"});
}

void TestProvisioning::aliasFollowsTheFolder() {
    provisioning::startup(db(), work(), *m_engine);
    QVERIFY(!m_engine->isInitialized()); // shut down again
    m_engine->initialize();
    QCOMPARE(m_engine->aliasPath("IP"), db());
    m_engine->shutdown();

    const QString other = m_dir->filePath("other");
    provisioning::prepareAdminFolder(other, work());
    provisioning::registerAlias(*m_engine, other, false);
    m_engine->initialize();
    QCOMPARE(m_engine->aliasPath("IP"), other);
    m_engine->shutdown();

    // A trailing separator still works.
    const QString slash = m_dir->filePath("slash/");
    provisioning::startup(slash, work(), *m_engine);
    QCOMPARE(files(slash).size(), 18);
    m_engine->initialize();
    QCOMPARE(m_engine->aliasPath("IP"), slash);
    m_engine->shutdown();
    // A folder the engine refuses as an alias is not reported.
    provisioning::registerAlias(*m_engine, "bad\npath", true);
    m_engine->initialize();
    QVERIFY(!m_engine->hasAlias("IP")); // removed first, the new one refused
}

QTEST_GUILESS_MAIN(TestProvisioning)
#include "test_provisioning.moc"
