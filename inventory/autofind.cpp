#include "autofind.h"

#include "datamodule.h"
#include "error.h"
#include "listingrunner.h"
#include "resolver.h"
#include "table.h"

#include <QTimer>

namespace qn::discovery {

void InventoryNames::open() {
    m_data.IPTableOpenClose(QString(), QString(), false, true);
}

bool InventoryNames::contains(const QString& name) {
    return m_data.IPTable->locate(QStringLiteral("COMPUTER"), name);
}

void InventoryNames::close() {
    m_data.IPTableOpenClose(QString(), QString(), false, false);
}

AutoFind::AutoFind(DiscoverySource& source, Resolver& resolver, KnownNames& known, QObject* parent)
    : QObject(parent), m_source(nullptr), m_resolver(resolver), m_known(known),
      m_pauseTimer(new QTimer(this)) {
    setSource(source);
    m_pauseTimer->setSingleShot(true);
    m_pauseTimer->setTimerType(Qt::PreciseTimer); // a coarse timer may end the pause early
    connect(m_pauseTimer, &QTimer::timeout, this, [this] { handleFrom(m_index + 1); });
    connect(
        &m_resolver, &Resolver::resolved, this,
        [this](const QString& name, const QString& address) { lookupDone(name, address, true); });
    connect(&m_resolver, &Resolver::failed, this,
            [this](const QString& name, const QString&) { lookupDone(name, QString(), false); });
}

AutoFind::~AutoFind() {
    if (m_awaitingLookup) {
        m_awaitingLookup = false;
        m_resolver.abandon();
    }
    if (m_knownOpen) {
        try {
            m_known.close();
        } catch (const Error&) {
            // nothing to report to during tear-down
        }
    }
}

bool AutoFind::setSource(DiscoverySource& source) {
    if (m_running)
        return false;
    disconnect(m_sourceDone);
    disconnect(m_sourceFailed);
    m_source = &source;
    m_sourceDone = connect(m_source, &DiscoverySource::finished, this, &AutoFind::listingDone);
    m_sourceFailed = connect(m_source, &DiscoverySource::failed, this, &AutoFind::listingFailed);
    return true;
}

bool AutoFind::start() {
    if (m_running || m_source->isRunning())
        return false;
    m_listed.clear();
    m_listedAddresses.clear();
    m_new.clear();
    m_index = 0;
    m_running = true;
    m_awaitingListing = true;
    m_source->start();
    return true;
}

void AutoFind::cancel() {
    if (!m_running)
        return;
    m_pauseTimer->stop();
    if (m_awaitingListing) {
        m_awaitingListing = false;
        m_source->cancel();
        m_running = false;
        emit finished(false);
        return;
    }
    if (m_awaitingLookup) {
        m_awaitingLookup = false;
        m_resolver.abandon();
    }
    end();
}

void AutoFind::listingDone(const QStringList& names, const QStringList& addresses) {
    if (!m_awaitingListing)
        return;
    m_awaitingListing = false;
    m_listed = names;
    m_listedAddresses = addresses;
    m_listedAddresses.resize(names.size());
    try {
        m_known.open();
        m_knownOpen = true;
    } catch (const Error& e) {
        abortRun(e.message());
        return;
    }
    emit listingRead(int(m_listed.size()));
    handleFrom(0);
}

void AutoFind::listingFailed(const QString& message) {
    if (!m_awaitingListing)
        return;
    m_awaitingListing = false;
    m_running = false;
    emit failed(message);
}

void AutoFind::handleFrom(int index) {
    // Known names go on at once; the first unknown one waits for its look-up.
    try {
        for (m_index = index; m_index < m_listed.size(); ++m_index) {
            const QString& name = m_listed.at(m_index);
            emit nameStarted(m_index + 1, name);
            if (!m_running) // cancelled from a slot
                return;
            if (m_known.contains(name))
                continue;
            if (const QString address = m_listedAddresses.at(m_index); !address.isEmpty()) {
                m_new.append(name, address);
                emit resolved(name, address);
                if (!m_running)
                    return;
                continue;
            }
            emit resolving(name);
            if (!m_running)
                return;
            m_awaitingLookup = true;
            m_resolver.lookup(name);
            return;
        }
    } catch (const Error& e) {
        abortRun(e.message());
        return;
    }
    end();
}

void AutoFind::lookupDone(const QString& name, const QString& address, bool ok) {
    if (!m_awaitingLookup)
        return;
    m_awaitingLookup = false;
    if (ok) {
        m_new.append(name, address);
        emit resolved(name, address);
    } else {
        emit unresolved(name);
    }
    m_pauseTimer->start(m_pauseMs);
}

void AutoFind::end() {
    m_running = false;
    try {
        m_knownOpen = false;
        m_known.close();
    } catch (const Error& e) {
        emit failed(e.message());
        return;
    }
    emit finished(!m_new.isEmpty());
}

void AutoFind::abortRun(const QString& message) {
    m_running = false;
    if (m_knownOpen) {
        m_knownOpen = false;
        try {
            m_known.close();
        } catch (const Error&) {
            // the first error is the one the user needs
        }
    }
    emit failed(message);
}

} // namespace qn::discovery
