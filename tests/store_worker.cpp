// A second (third, ...) user of a table for the locking tests: appends, records systems, edits
// or holds locks on one table file while other copies of it do the same.
//
//   store_worker append   <dbf> <count> <label>      rows <label>-<n>, n = 1..count
//   store_worker edit     <dbf> <recno> <text> <ms>  edit COMPUTER, wait ms, post
//   store_worker hold     <dbf> <recno>              edit a row and wait to be killed
//   store_worker lock     <dbf>                      hold the table lock until killed
//   store_worker record   <folder> <count> <prefix>  record systems as Add New System does
//   store_worker forever  <dbf> <label>              append until killed, printing each
//                                                    committed row as "<recno> <SYSID>"
//   store_worker check    <dbf> <field>              print the field of every row, then
//                                                    "rows N", "repaired N" and "index ok"
//                                                    or "index: <fault>"
//
// Prints "ready" once a lock is held, "done" at the end, "error: <message>" (exit 3) when a
// request of the engine fails.
#include "datamodule.h"
#include "engine.h"
#include "error.h"
#include "systemrules.h"
#include "table.h"
#include "tablefile.h"
#include "tablelock.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <cstdio>

namespace {

void say(const QString& line) {
    std::fputs((line + u'\n').toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void openTable(qn::Table& t, const QString& dbf, const QString& tag = {}) {
    t.setTableName(QDir(dbf).absolutePath());
    t.setIndexName(tag);
    t.open();
}

void goToRecord(qn::Table& t, uint32_t recno) {
    for (t.first(); !t.eof() && t.recNo() != recno; t.next()) {
    }
    if (t.recNo() != recno)
        throw qn::StoreError(QStringLiteral("record %1 not found").arg(recno));
}

[[noreturn]] void waitForKill() {
    for (;;)
        QThread::sleep(60);
}

void appendIpRow(qn::Table& t, const QString& label, int n) {
    const QString id = QStringLiteral("%1-%2").arg(label).arg(n);
    t.append();
    t.setFieldText(QStringLiteral("SYSID"), id);
    t.setFieldText(QStringLiteral("COMPUTER"), QStringLiteral("pc-") + id);
    t.setFieldText(QStringLiteral("IPSTRING"), QString::number(n % 997));
    t.setFieldText(QStringLiteral("TYPE"), label.left(4));
    t.setFieldText(QStringLiteral("ALIAS1"), n % 3 ? QStringLiteral("www") + id : QString());
    t.post();
}

// Each system as Add New System saves it: the ID shown beforehand, then kept or replaced
// under the systems table's lock. Prints how many shown IDs had been taken meanwhile.
void recordSystems(qn::Engine& engine, const QString& folder, int count, const QString& prefix) {
    engine.addAlias(QStringLiteral("IP"), QStringLiteral("PATH:") + QDir(folder).absolutePath());
    qn::DataModule dm(engine);
    int retaken = 0;
    for (int i = 0; i < count; ++i) {
        const QString shown = qn::systemrules::nextSystemId(dm, prefix);
        const QString used =
            qn::systemrules::recordSystem(dm, prefix, shown, [&](const QString& id) {
                dm.SysTableOpenClose(QString(), QString(), false, true);
                qn::Table& sys = *dm.SysTable;
                sys.append();
                sys.setFieldText(QStringLiteral("SysID"), id);
                sys.setFieldText(QStringLiteral("Company"), QStringLiteral("worker ") + prefix);
                sys.post();
                dm.SysTableOpenClose(QString(), QString(), false, false);
            });
        retaken += used != shown;
    }
    say(QStringLiteral("retaken %1").arg(retaken));
}

int run(const QStringList& args) {
    qn::Engine engine(QDir::temp().filePath(
        QStringLiteral("quillnet-worker-%1.cfg").arg(QCoreApplication::applicationPid())));
    engine.initialize();
    const QString cmd = args.value(1);
    const QString dbf = args.value(2);
    qn::Table t(engine);
    if (cmd == QLatin1String("append") && args.size() == 5) {
        openTable(t, dbf);
        const int count = args[3].toInt();
        for (int n = 1; n <= count; ++n)
            appendIpRow(t, args[4], n);
    } else if (cmd == QLatin1String("forever") && args.size() == 4) {
        openTable(t, dbf);
        for (int n = 1;; ++n) {
            appendIpRow(t, args[3], n);
            // Printed only once the post has returned.
            say(QStringLiteral("%1 %2-%3").arg(t.recNo()).arg(args[3]).arg(n));
        }
    } else if (cmd == QLatin1String("record") && args.size() == 5) {
        recordSystems(engine, dbf, args[3].toInt(), args[4]);
    } else if ((cmd == QLatin1String("edit") && args.size() == 6) ||
               (cmd == QLatin1String("hold") && args.size() == 4)) {
        openTable(t, dbf);
        goToRecord(t, args[3].toUInt());
        t.edit();
        say(QStringLiteral("ready"));
        if (cmd == QLatin1String("hold"))
            waitForKill();
        t.setFieldText(QStringLiteral("COMPUTER"), args[4]);
        QThread::msleep(args[5].toULong());
        t.post();
    } else if (cmd == QLatin1String("check") && args.size() == 4) {
        qn::TableFile file(dbf);
        const int f = file.dbf().fieldIndex(args[3].toUpper().toStdString());
        if (f < 0)
            throw qn::StoreError(QStringLiteral("no field ") + args[3]);
        const qn::DbfField& field = file.fields()[size_t(f)];
        for (uint32_t r = 1; r <= file.dbf().recordCount(); ++r)
            say(QString::fromLatin1(file.dbf().record(r) + field.offset, field.length).trimmed());
        say(QStringLiteral("rows %1").arg(file.dbf().recordCount()));
        say(QStringLiteral("repaired %1").arg(file.repairs()));
        try {
            file.verifyIndexes();
            say(QStringLiteral("index ok"));
        } catch (const qn::StoreError& e) {
            say(QStringLiteral("index: ") + e.message());
        }
    } else if (cmd == QLatin1String("lock") && args.size() == 3) {
        openTable(t, dbf);
        qn::TableLock lock(t);
        say(QStringLiteral("ready"));
        waitForKill();
    } else {
        std::fputs("usage: store_worker append|edit|hold|lock|record|forever|check <dbf> ...\n",
                   stderr);
        return 2;
    }
    say(QStringLiteral("done"));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    try {
        return run(app.arguments());
    } catch (const qn::Error& e) {
        say(QStringLiteral("error: ") + e.message());
        return 3;
    }
}
