#pragma once
// Shared by the parts of test_discovery: whether it runs inside its own namespaces, the parts'
// entry points, and one line per Auto-Find signal.
#include "autofind.h"
#include "error.h"
#include "fixtures.h"

#include <QTest>
#include <functional>

bool inDiscoverySandbox();
int runResolverTests(int argc, char** argv);
int runWindowTests(int argc, char** argv);
int runNetviewTests(int argc, char** argv);

#define QN_SKIP_OUTSIDE_SANDBOX()                                                                  \
    if (!inDiscoverySandbox())                                                                     \
    QSKIP("needs private mount and network namespaces (unshare -m -n), not permitted here")

namespace qn::test {

/// Records address rows given as "SYSID name a.b.c.d" ("-": no name; the address may be left
/// out).
inline void recordIp(Engine& engine, const QStringList& rows) {
    for (const QString& row : rows) {
        const QStringList p = row.split(u' ');
        put(engine, "IP.DBF",
            Row{{"SYSID", p[0]}, {"COMPUTER", p.value(1) == "-" ? "" : p.value(1)}} +
                octets(p.value(2)));
    }
}

/// What f returns, or "error: " and the message of the qn::Error it throws.
inline QString outcome(const std::function<QString()>& f) {
    try {
        return f();
    } catch (const Error& e) {
        return "error: " + e.message();
    }
}

/// Calls note for each signal of a run: "listed 3", "2 PC1" (position, name), "resolving PC1",
/// "PC1 = 10.0.0.1", "PC1 unresolved", "failed <message>", "finished 1".
inline void traceRun(discovery::AutoFind& f, QObject* ctx,
                     const std::function<void(const QString&)>& note) {
    using discovery::AutoFind;
    QObject::connect(&f, &AutoFind::listingRead, ctx,
                     [note](int n) { note(QString("listed %1").arg(n)); });
    QObject::connect(&f, &AutoFind::nameStarted, ctx,
                     [note](int pos, const QString& n) { note(QString("%1 %2").arg(pos).arg(n)); });
    QObject::connect(&f, &AutoFind::resolving, ctx,
                     [note](const QString& n) { note("resolving " + n); });
    QObject::connect(&f, &AutoFind::resolved, ctx,
                     [note](const QString& n, const QString& a) { note(n + " = " + a); });
    QObject::connect(&f, &AutoFind::unresolved, ctx,
                     [note](const QString& n) { note(n + " unresolved"); });
    QObject::connect(&f, &AutoFind::failed, ctx, [note](const QString& m) { note("failed " + m); });
    QObject::connect(&f, &AutoFind::finished, ctx,
                     [note](bool found) { note(QString("finished %1").arg(found)); });
}

} // namespace qn::test
