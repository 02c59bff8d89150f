// Filling a database folder from the Master tables, in the two ways the program does it.
#include "error.h"
#include "guiutil.h"
#include "provisioning.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace qn;

class TestProvisioning : public QObject {
    Q_OBJECT
private slots:
    void init() { m_ws = std::make_unique<test::Workspace>(); }
    void cleanup() { m_ws.reset(); }
    void fill_data() {
        QTest::addColumn<bool>("atStartup"); // else as the administrator's Save does
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("replaced"); // present files that become Master copies
        const auto sorted = [](QStringList l) {
            l.sort();
            return l;
        };
        const QStringList complete{"Hardware.dbf", "IP.dbf", "RESOURCES.DBF", "SOFTWARE.DBF",
                                   "Systems.dbf"}; // any letter case counts
        QTest::newRow("startup: complete") << true << complete << complete << QStringList();
        QTest::newRow("admin: complete") << false << complete << complete << QStringList();
        const QStringList noSystems{"Hardware.dbf", "IP.dbf", "Resources.dbf", "Software.dbf",
                                    "Systems.mdx"};
        QTest::newRow("startup: one table missing")
            << true << noSystems << sorted(noSystems + QStringList{"Systems.dbf"}) << QStringList();
        const QStringList noIp{"Hardware.dbf", "IP.mdx", "Resources.dbf", "Software.dbf",
                               "Systems.dbf"};
        QTest::newRow("startup: the IP files replaced")
            << true << noIp << sorted(noIp + QStringList{"IP.dbf", "IP.dbk", "IP.mbk"})
            << QStringList{"IP.mdx"};
        QTest::newRow("startup: new folder")
            << true << QStringList() << sorted(provisioning::startupFiles()) << QStringList();
        QTest::newRow("admin: new folder")
            << false << QStringList() << sorted(provisioning::adminSaveFiles()) << QStringList();
        QTest::newRow("admin: folder without IP.dbf")
            << false << QStringList{"Systems.dbf"} << sorted(provisioning::adminSaveFiles())
            << QStringList();
        QTest::newRow("admin: folder with IP.dbf")
            << false << QStringList{"IP.dbf"} << QStringList{"IP.dbf"} << QStringList();
    }
    void fill() {
        QFETCH(bool, atStartup);
        QFETCH(QStringList, present);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, replaced);
        if (!present.isEmpty())
            QDir().mkdir(db());
        for (const QString& f : present)
            test::writeBytes(db() + "/" + f, "mine");
        if (atStartup)
            provisioning::startup(db(), work(), m_ws->engine());
        else
            provisioning::prepareAdminFolder(db(), work());
        QCOMPARE(files(db()), expected);
        for (const QString& f : expected)
            QCOMPARE(test::fileBytes(db() + "/" + f),
                     present.contains(f) && !replaced.contains(f)
                         ? QByteArray("mine")
                         : test::fileBytes(work() + "/Master/" + f));
    }
    // A missing parent folder is an error that makes nothing; the alias follows the folder.
    void startupFailsOrPointsTheAlias() {
        const QString deep = m_ws->path("no/such/db");
        try {
            provisioning::startup(deep, work(), m_ws->engine());
            QFAIL("no error");
        } catch (const Error& e) {
            QVERIFY2(e.message().contains(deep), qPrintable(e.message()));
        }
        QVERIFY(!QFile::exists(m_ws->path("no")));
        m_ws->engine().initialize();
        QVERIFY(!m_ws->engine().hasAlias("IP"));
        m_ws->engine().shutdown();
        QVERIFY_THROWS_EXCEPTION(Error, provisioning::prepareAdminFolder("", work()));

        // A trailing separator works, and the engine is shut down again.
        const QString slash = m_ws->path("slash/");
        provisioning::startup(slash, work(), m_ws->engine());
        QVERIFY(!m_ws->engine().isInitialized());
        QCOMPARE(files(slash).size(), 18);
        m_ws->engine().initialize();
        QCOMPARE(m_ws->engine().aliasPath("IP"), slash);
        m_ws->engine().shutdown();
        // A folder the engine refuses as an alias is not reported.
        provisioning::registerAlias(m_ws->engine(), "bad\npath", true);
        m_ws->engine().initialize();
        QVERIFY(!m_ws->engine().hasAlias("IP")); // removed first, the new one refused
    }

private:
    QString work() const { return m_ws->path(); }
    QString db() const { return m_ws->path("db"); }
    QStringList files(const QString& folder) const {
        return QDir(folder).entryList(QDir::Files, QDir::Name);
    }
    std::unique_ptr<test::Workspace> m_ws;
};

QTEST_GUILESS_MAIN(TestProvisioning)
#include "test_provisioning.moc"
