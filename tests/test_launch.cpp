// How the program is started: the desktop launcher's working folder, and no display at all.
#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestLaunch : public QObject {
    Q_OBJECT
private slots:
    void launcherPreparesPerUserFolder() {
        // An installed tree with a stand-in program that reports where it was started.
        QTemporaryDir root;
        const QString prefix = root.filePath("usr");
        QDir().mkpath(prefix + "/bin");
        QDir().mkpath(prefix + "/share/quillnet/Master");
        QVERIFY(QFile::copy(qn::test::sourceDir() + "/tools/quillnet-launcher",
                            prefix + "/bin/quillnet-launcher"));
        qn::test::writeBytes(prefix + "/bin/quillnet", "#!/bin/sh\npwd\nls\nls Master\n");
        QFile::setPermissions(prefix + "/bin/quillnet", QFile::ReadOwner | QFile::ExeOwner);
        qn::test::writeBytes(prefix + "/share/quillnet/Master/IP.dbf", "template");

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", root.filePath("home"));
        env.remove("XDG_DATA_HOME");
        auto launch = [&] {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start("/bin/sh", {prefix + "/bin/quillnet-launcher"});
            p.waitForFinished();
            return QString::fromLocal8Bit(p.readAllStandardOutput())
                .split('\n', Qt::SkipEmptyParts);
        };
        const QString work = root.filePath("home/.local/share/Quillnet");
        QCOMPARE(launch(), (QStringList{work, "Master", "IP.dbf"}));

        // A Master folder the user already has is left alone.
        qn::test::writeBytes(work + "/Master/IP.dbf", "mine");
        launch();
        QCOMPARE(qn::test::fileBytes(work + "/Master/IP.dbf"), QByteArray("mine"));

        env.insert("XDG_DATA_HOME", root.filePath("data"));
        QCOMPARE(launch().first(), root.filePath("data/Quillnet"));
    }
    void noDisplayIsAPlainError() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(v);
        QTemporaryDir dir;
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.start(qn::test::buildDir() + "/program/quillnet");
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(p.readAllStandardError().contains("needs a graphical desktop"));
        QVERIFY(!QFile::exists(dir.filePath("setup.nfo")));
    }
};

QTEST_GUILESS_MAIN(TestLaunch)
#include "test_launch.moc"
