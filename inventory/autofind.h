#pragma once

#include "newcomputers.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QTimer;

namespace qn {
class DataModule;
}

namespace qn::discovery {

class DiscoverySource;
class Resolver;

/// The computer names the inventory already records.
class KnownNames {
public:
    virtual ~KnownNames() = default;
    /// Called once before the first contains() of a run, and close() once after the last.
    virtual void open() {}
    virtual bool contains(const QString& name) = 0;
    virtual void close() {}
};

/// The names of IP.DBF's COMPUTER field, compared whole and ignoring case, through the data
/// module's shared IP table (opened with no tag and no filter for the run).
class InventoryNames : public KnownNames {
public:
    explicit InventoryNames(DataModule& data) : m_data(data) {}
    void open() override;
    bool contains(const QString& name) override;
    void close() override;

private:
    DataModule& m_data;
};

/// One Auto-Find run without its window: runs the discovery source (the listing batch or an nmap
/// scan), skips the known names, resolves the others one at a time with a pause after each, and
/// keeps those that resolved. A name the source gave an address for needs no look-up and no
/// pause. Signals tell a progress window what to show; everything happens in the
/// user-interface thread, driven by its event loop.
class AutoFind : public QObject {
    Q_OBJECT
public:
    AutoFind(DiscoverySource& source, Resolver& resolver, KnownNames& known,
             QObject* parent = nullptr);
    ~AutoFind() override;

    /// The source of the following runs; refused (false) while a run is in progress.
    bool setSource(DiscoverySource& source);
    DiscoverySource& source() const { return *m_source; }

    /// The pause after each name that needed a look-up.
    void setPause(int milliseconds) { m_pauseMs = milliseconds; }
    int pause() const { return m_pauseMs; }

    /// Starts a run, emptying the lists of the last one. Refused (false) while a run is in
    /// progress.
    bool start();
    bool isRunning() const { return m_running; }
    /// Ends a run in progress early: the source is stopped, or the look-up under way
    /// abandoned; the computers found so far are kept and finished() follows as at the end.
    void cancel();

    const QStringList& listedNames() const { return m_listed; }
    /// Entry k is the address the discovery source gave for listed name k, empty when it gave
    /// none (the listing batch names computers without addresses).
    const QStringList& listedAddresses() const { return m_listedAddresses; }
    /// The computers the last run found; Add empties it.
    NewComputers& newComputers() { return m_new; }
    const NewComputers& newComputers() const { return m_new; }

signals:
    /// The listing was read: count names, handled one by one next.
    void listingRead(int count);
    /// Handling the position-th name (1-based) begins.
    void nameStarted(int position, const QString& name);
    /// The name is not known and is being resolved.
    void resolving(const QString& name);
    void resolved(const QString& name, const QString& address);
    void unresolved(const QString& name);
    /// The run is over; foundNew when it found at least one new computer.
    void finished(bool foundNew);
    /// The run ended early: the listing could not be read or the table store failed. message
    /// is for the user; the computers found so far stay in the lists.
    void failed(const QString& message);

private:
    void listingDone(const QStringList& names, const QStringList& addresses);
    void listingFailed(const QString& message);
    void handleFrom(int index);
    void lookupDone(const QString& name, const QString& address, bool ok);
    void end();
    void abortRun(const QString& message);

    DiscoverySource* m_source;
    QMetaObject::Connection m_sourceDone, m_sourceFailed;
    Resolver& m_resolver;
    KnownNames& m_known;
    QTimer* m_pauseTimer;
    int m_pauseMs = 500;
    bool m_running = false;
    bool m_awaitingListing = false;
    bool m_awaitingLookup = false;
    bool m_knownOpen = false;
    int m_index = 0;
    QStringList m_listed;
    QStringList m_listedAddresses;
    NewComputers m_new;
};

} // namespace qn::discovery
