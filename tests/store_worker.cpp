// A second (third, ...) user of a table for the locking tests; rows it writes are <label>-<n>.
//
//   append  <dbf> <count> <label> [g]  count rows, g at a time in a group when g is given
//   forever <dbf> <label> [g]          append until killed, printing "<recno> <SYSID>" once
//                                      each row is committed
//   edit    <dbf> <recno> <text> <ms>  edit COMPUTER, print "ready", wait ms, post
//   lock    <dbf>                      take the table lock, print "ready", wait to be killed
//   record  <folder> <count> <prefix>  record systems as Add New System does
//   import  <folder> <csv> <step>      import the CSV's new systems; at step print
//                                      "at <step>" and wait to be killed
//   check   <dbf> <field>              print the field of every row, "rows N",
//                                      "repaired N", then "index ok" or "index: <fault>"
//   reread  <dbf> <field> <tag>        print the field of every row in the tag's order,
//                                      "rows N", "ready"; the same again and "index ok"
//                                      at each line of stdin, through the same table
//
// Prints "done" at the end, "error: <message>" (exit 3) when the engine refuses.
#include "csvexchange.h"
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
#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

void say(const QString& line) {
    std::fputs((line + u'\n').toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

[[noreturn]] void waitForKill() {
    for (;;)
        QThread::sleep(60);
}

void appendIpRow(qn::Table& t, const QString& label, int n) {
    const QString id = QString("%1-%2").arg(label).arg(n);
    t.append();
    t.setFieldText("SYSID", id);
    t.setFieldText("COMPUTER", "pc-" + id);
    t.setFieldText("IPSTRING", QString::number(n % 997));
    t.setFieldText("TYPE", label.left(4));
    t.setFieldText("ALIAS1", n % 3 ? "www" + id : QString());
    t.post();
}

// Each system as Add New System saves it: the ID shown beforehand, then kept or replaced
// under the systems table's lock. Prints how many shown IDs had been taken meanwhile.
void recordSystems(qn::Engine& engine, const QString& folder, int count, const QString& prefix) {
    engine.addAlias("IP", "PATH:" + QDir(folder).absolutePath());
    qn::DataModule dm(engine);
    int retaken = 0;
    for (int i = 0; i < count; ++i) {
        const QString shown = qn::systemrules::nextSystemId(dm, prefix);
        retaken +=
            shown != qn::systemrules::recordSystem(dm, prefix, shown, [&](const QString& id) {
                dm.SysTableOpenClose(QString(), QString(), false, true);
                dm.SysTable->append();
                dm.SysTable->setFieldText("SysID", id);
                dm.SysTable->setFieldText("Company", "worker " + prefix);
                dm.SysTable->post();
                dm.SysTableOpenClose(QString(), QString(), false, false);
            });
    }
    say(QString("retaken %1").arg(retaken));
}

// The field of every row, the row count, the repairs made on opening and the trees' state.
void check(const QString& dbf, const QString& name) {
    qn::TableFile file(dbf);
    const int f = file.dbf().fieldIndex(name.toUpper().toStdString());
    if (f < 0)
        throw qn::StoreError("no field " + name);
    const qn::DbfField& field = file.fields()[size_t(f)];
    for (uint32_t r = 1; r <= file.dbf().recordCount(); ++r)
        say(QString::fromLatin1(file.dbf().record(r) + field.offset, field.length).trimmed());
    say(QString("rows %1").arg(file.dbf().recordCount()));
    say(QString("repaired %1").arg(file.repairs()));
    try {
        file.verifyIndexes();
        say("index ok");
    } catch (const qn::StoreError& e) {
        say("index: " + e.message());
    }
}

// Keeps the table open in the tag's order; shows its rows now and after each line of stdin.
void reread(qn::Table& t, const QString& field, const QString& tag) {
    t.setIndexName(tag);
    t.open();
    char line[64];
    for (int pass = 0; pass == 0 || std::fgets(line, sizeof line, stdin); ++pass) {
        int n = 0;
        for (t.first(); !t.eof(); t.next(), ++n)
            say(t.fieldText(field).trimmed());
        say(QString("rows %1").arg(n));
        if (pass == 0) {
            say("ready");
            continue;
        }
        t.file()->verifyIndexes(); // throws: "error: ..." is printed
        say("index ok");
    }
}

int run(const QStringList& args) {
    qn::Engine engine(QDir::temp().filePath(
        QString("quillnet-worker-%1.cfg").arg(QCoreApplication::applicationPid())));
    engine.initialize();
    const QString cmd = args.value(1), dbf = args.value(2);
    qn::Table t(engine);
    t.setTableName(QDir(dbf).absolutePath());
    const bool endless = cmd == "forever" && (args.size() == 4 || args.size() == 5);
    if (endless || (cmd == "append" && (args.size() == 5 || args.size() == 6))) {
        t.open();
        const int count = endless ? INT_MAX : args[3].toInt();
        const QString label = args[endless ? 3 : 4];
        const int group = args.value(endless ? 4 : 5).toInt();
        std::vector<uint32_t> done;
        for (int n = 1; n <= count;) {
            std::optional<qn::TableGroup> g;
            if (group > 0)
                g.emplace(t);
            for (int k = 0; k < std::max(group, 1) && n <= count; ++k, ++n) {
                appendIpRow(t, label, n);
                done.push_back(t.recNo());
            }
            if (g)
                g->commit();
            const int first = n - int(done.size());
            for (size_t k = 0; endless && k < done.size(); ++k) // once the rows are committed
                say(QString("%1 %2-%3").arg(done[k]).arg(label).arg(first + int(k)));
            done.clear();
        }
    } else if (cmd == "record" && args.size() == 5) {
        recordSystems(engine, dbf, args[3].toInt(), args[4]);
    } else if (cmd == "edit" && args.size() == 6) {
        t.open();
        for (t.first(); !t.eof() && t.recNo() != args[3].toUInt(); t.next()) {
        }
        if (t.eof())
            throw qn::StoreError("record " + args[3] + " not found");
        t.edit();
        say("ready");
        t.setFieldText("COMPUTER", args[4]);
        QThread::msleep(args[5].toULong());
        t.post();
    } else if (cmd == "import" && args.size() == 5) {
        engine.addAlias("IP", "PATH:" + QDir(dbf).absolutePath());
        qn::DataModule dm(engine);
        qn::csv::ImportPlan plan = qn::csv::readImport(args[3]);
        qn::csv::classify(dm, plan);
        qn::csv::importTicked(dm, plan, [&](const QString& step) {
            if (step == args[4]) {
                say("at " + step);
                waitForKill();
            }
        });
    } else if (cmd == "check" && args.size() == 4) {
        check(dbf, args[3]);
    } else if (cmd == "reread" && args.size() == 5) {
        reread(t, args[3], args[4]);
    } else if (cmd == "lock" && args.size() == 3) {
        t.open();
        qn::TableLock lock(t);
        say("ready");
        waitForKill();
    } else {
        std::fputs("usage: see the head of tests/store_worker.cpp\n", stderr);
        return 2;
    }
    say("done");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    try {
        return run(app.arguments());
    } catch (const qn::Error& e) {
        say("error: " + e.message());
        return 3;
    }
}
