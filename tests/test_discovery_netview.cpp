// The default netview.sh. It runs only inside a network namespace made for the test, with a
// PATH of its own: the basic tools it needs, plus stand-ins for the discovery tools that print
// captured output. Nothing it starts can reach the machine's network.

#include "listing.h"
#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace qn;
using namespace qn::discovery;

namespace {

using Tools = QMap<QString, QByteArray>; // stand-in name -> shell script body

const QByteArray nmblookupOutput = "querying * on 10.0.0.255\n"
                                   "10.0.0.11 *<00>\n"
                                   "10.0.0.12 *<00>\n"
                                   "Looking up status of 10.0.0.11\n"
                                   "\tPC1             <00> -         B <ACTIVE> \n"
                                   "\tPC1             <03> -         B <ACTIVE> \n"
                                   "\tPC1             <20> -         B <ACTIVE> \n"
                                   "\t..__MSBROWSE__. <01> - <GROUP> B <ACTIVE> \n"
                                   "\tWORKGROUP       <00> - <GROUP> B <ACTIVE> \n"
                                   "\tWORKGROUP       <1d> -         B <ACTIVE> \n"
                                   "\n"
                                   "\tMAC Address = 00-00-00-00-00-00\n"
                                   "\n"
                                   "Looking up status of 10.0.0.12\n"
                                   "\tFILESRV         <00> -         B <ACTIVE> \n"
                                   "\tFILESRV         <20> -         B <ACTIVE> \n"
                                   "Looking up status of 10.0.0.13\n"
                                   "\te               <00> -         B <ACTIVE> \n"
                                   "Looking up status of 10.0.0.14\n"
                                   "\tfilesrv         <00> -         M <ACTIVE> \n"
                                   "No reply from 10.0.0.15\n";

const QByteArray avahiOutput =
    "+;eth0;IPv4;laptop [00:11:22:33:44:55];_workstation._tcp;local\n"
    "+;eth0;IPv6;laptop [00:11:22:33:44:55];_workstation._tcp;local\n"
    "=;eth0;IPv6;laptop [00:11:22:33:44:55];_workstation._tcp;local;laptop.local;fe80::1;9;\n"
    "=;eth0;IPv4;laptop [00:11:22:33:44:55];_workstation._tcp;local;laptop.local;10.0.0.21;9;\n"
    "=;eth0;IPv4;pc1 [00:11:22:33:44:66];_workstation._tcp;local;Pc1.local;10.0.0.11;9;\n"
    "=;eth0;IPv4;caf\xC3\xA9 [00:11:22:33:44:77];_workstation._tcp;local;caf\xC3\xA9.local;"
    "10.0.0.22;9;\n";

const QByteArray ipOutput = "10.0.0.1 dev eth0 lladdr 52:54:00:00:00:01 REACHABLE\n"
                            "10.0.0.11 dev eth0 lladdr 52:54:00:00:00:11 STALE\n"
                            "10.0.0.31 dev eth0 lladdr 52:54:00:00:00:31 DELAY\n"
                            "10.0.0.32 dev eth0  FAILED\n"
                            "10.0.0.33 dev eth0 lladdr 52:54:00:00:00:33 STALE\n";

// Each stand-in answers only the call netview.sh is meant to make.
QByteArray canned(const QByteArray& expectedArgs, const QByteArray& output) {
    return "[ \"$*\" = '" + expectedArgs + "' ] || { echo \"unexpected: $*\" >&2; exit 64; }\n" +
           "cat <<'END'\n" + output + "END\n";
}

const QByteArray getentScript = "[ \"$1\" = hosts ] || exit 64\n"
                                "case $2 in\n"
                                "10.0.0.1) echo '10.0.0.1        gateway' ;;\n"
                                "10.0.0.11) echo '10.0.0.11       pc1.office.lan pc1' ;;\n"
                                "10.0.0.31) echo '10.0.0.31       nas.office.lan' ;;\n"
                                "*) exit 2 ;;\n"
                                "esac\n";

QByteArray line(const QByteArray& name, const QByteArray& remark) {
    return "\\\\" + name.leftJustified(21) + " " + remark + "\r\n";
}

} // namespace

class TestDiscoveryNetview : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void listing_data();
    void listing();
    void realNeighbourTableOfAnEmptyNamespace();

private:
    /// Runs netview.sh in a fresh folder inside a new network namespace; returns net.txt.
    QByteArray runNetview(const Tools& tools, const QStringList& realTools = {});

    QStringList m_unshare;
    QString m_script;
};

void TestDiscoveryNetview::initTestCase() {
    m_script = QDir(test::sourceDir()).filePath("discovery/netview.sh");
    QVERIFY2(QFile::exists(m_script), qPrintable(m_script));
    for (QStringList args : {QStringList{"-n"}, QStringList{"-r", "-n"}}) {
        if (geteuid() != 0 && args.size() == 1)
            continue;
        QProcess probe;
        probe.start("unshare", args + QStringList{"true"});
        if (probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
            probe.exitCode() == 0) {
            m_unshare = args;
            return;
        }
    }
    QSKIP("unshare -n is not permitted here; netview.sh runs only in a private network "
          "namespace");
}

QByteArray TestDiscoveryNetview::runNetview(const Tools& tools, const QStringList& realTools) {
    QTemporaryDir dir;
    const QString bin = dir.filePath("bin");
    const QString work = dir.filePath("work");
    QDir().mkpath(bin);
    QDir().mkpath(work);
    const QStringList basics{"awk", "sed", "tr",    "uname",   "date", "mv",
                             "rm",  "cat", "iconv", "timeout", "sh",   "basename"};
    for (const QString& tool : basics + realTools) {
        const QString path = QStandardPaths::findExecutable(tool);
        if (path.isEmpty()) {
            qWarning("%s is not installed", qPrintable(tool));
            continue;
        }
        QFile::link(path, QDir(bin).filePath(tool));
    }
    for (auto it = tools.begin(); it != tools.end(); ++it) {
        QFile f(QDir(bin).filePath(it.key()));
        if (!f.open(QIODevice::WriteOnly) || f.write("#!/bin/sh\n" + it.value()) < 0)
            return "cannot write " + it.key().toLatin1();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QString copy = QDir(work).filePath("netview.sh");
    QFile::copy(m_script, copy);

    QProcess p;
    p.setWorkingDirectory(work);
    p.start("unshare",
            m_unshare + QStringList{"/usr/bin/env", "-i", "PATH=" + bin, "/bin/sh", "netview.sh"});
    if (!p.waitForFinished(60000))
        return "netview.sh did not end";
    const QByteArray err = p.readAllStandardError();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || !err.isEmpty())
        return "netview.sh failed: " + QByteArray::number(p.exitCode()) + " " + err;
    const QStringList left = QDir(work).entryList(QDir::Files | QDir::NoDotAndDotDot);
    if (left != QStringList{"net.txt", "netview.sh"})
        return "files left: " + left.join(' ').toLatin1();
    QFile out(QDir(work).filePath("net.txt"));
    if (!out.open(QIODevice::ReadOnly))
        return "no net.txt";
    return out.readAll();
}

void TestDiscoveryNetview::listing_data() {
    QTest::addColumn<Tools>("tools");
    QTest::addColumn<QByteArray>("entries");

    QTest::newRow("no discovery tools") << Tools{} << QByteArray();
    const QByteArray broken = "echo 'something went wrong' >&2\nexit 1\n";
    QTest::newRow("tools that fail")
        << Tools{{"nmblookup", broken}, {"avahi-browse", broken}, {"ip", broken}} << QByteArray();
    QTest::newRow("NetBIOS only") << Tools{{"nmblookup", canned("-S *", nmblookupOutput)}}
                                  << line("PC1", "NetBIOS 10.0.0.11") +
                                         line("FILESRV", "NetBIOS 10.0.0.12");
    QTest::newRow("mDNS only") << Tools{{"avahi-browse",
                                         canned("-t -r -p -k _workstation._tcp", avahiOutput)}}
                               << line("laptop.local", "mDNS 10.0.0.21") +
                                      line("Pc1.local", "mDNS 10.0.0.11") +
                                      line("caf\xE9.local", "mDNS 10.0.0.22");
    QTest::newRow("neighbours only")
        << Tools{{"ip", canned("-4 neigh show", ipOutput)}, {"getent", getentScript}}
        << line("gateway", "neighbour 10.0.0.1") + line("pc1.office.lan", "neighbour 10.0.0.11") +
               line("nas.office.lan", "neighbour 10.0.0.31");
    QTest::newRow("all sources, each name once")
        << Tools{{"nmblookup", canned("-S *", nmblookupOutput)},
                 {"avahi-browse", canned("-t -r -p -k _workstation._tcp", avahiOutput)},
                 {"ip", canned("-4 neigh show", ipOutput)},
                 {"getent", getentScript}}
        << line("PC1", "NetBIOS 10.0.0.11") + line("FILESRV", "NetBIOS 10.0.0.12") +
               line("laptop.local", "mDNS 10.0.0.21") + line("caf\xE9.local", "mDNS 10.0.0.22") +
               line("gateway", "neighbour 10.0.0.1") +
               line("nas.office.lan", "neighbour 10.0.0.31");
}

void TestDiscoveryNetview::listing() {
    QFETCH(Tools, tools);
    QFETCH(QByteArray, entries);
    const QByteArray out = runNetview(tools);
    QList<QByteArray> lines = out.split('\n');
    QVERIFY2(lines.size() >= 6 && lines.takeLast().isEmpty(), out.constData());
    for (const QByteArray& l : lines)
        QVERIFY2(l.endsWith('\r'), "every line ends with CR LF");
    // Four headings, none of which the reader would take for a name or the end.
    QVERIFY(lines[0].startsWith("Computers seen from "));
    QCOMPARE(lines[1], QByteArray("\r"));
    QVERIFY(lines[2].startsWith("Server Name"));
    QVERIFY(lines[3].startsWith("-----"));
    QCOMPARE(out.mid(lines[0].size() + 1 + 2 + lines[2].size() + 1 + lines[3].size() + 1),
             entries + "The command completed successfully.\r\n");

    QStringList names;
    for (const QByteArray& l : entries.split('\n'))
        if (!l.isEmpty())
            names << Listing::cutName(QString::fromLatin1(l));
    QCOMPARE(Listing::parse(out), names);
}

void TestDiscoveryNetview::realNeighbourTableOfAnEmptyNamespace() {
    if (QStandardPaths::findExecutable("ip").isEmpty())
        QSKIP("ip (iproute2) is not installed");
    const QByteArray out = runNetview({}, {"ip", "getent"});
    QCOMPARE(Listing::parse(out), QStringList{});
    QVERIFY2(out.endsWith("-\r\nThe command completed successfully.\r\n"), out.constData());
}

QTEST_GUILESS_MAIN(TestDiscoveryNetview)
#include "test_discovery_netview.moc"
