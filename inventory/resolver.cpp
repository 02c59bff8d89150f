#include "resolver.h"

#include "error.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QHostInfo>
#include <QTimer>
#include <optional>
#include <utility>

namespace qn::discovery {

int SystemNameService::lookup(const QString& name, QObject* context,
                              std::function<void(const QHostInfo&)> done) {
    return QHostInfo::lookupHost(name, context, std::move(done));
}

void SystemNameService::abort(int) {
    // Not QHostInfo::abortHostLookup(): Qt 6.4 then never frees the look-up's callback. The
    // answer still comes, and the resolver drops it as stale.
}

Resolver::Resolver(std::unique_ptr<NameService> service, QObject* parent)
    : QObject(parent), m_service(std::move(service)), m_timer(new QTimer(this)) {
    if (!m_service)
        m_service = std::make_unique<SystemNameService>();
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] { finish(QString(), timedOutText()); });
}

Resolver::~Resolver() {
    // Queued answers carry a generation no longer current, and die with this object anyway.
    if (m_busy && m_lookupId >= 0)
        m_service->abort(m_lookupId);
}

QString Resolver::dottedDecimal(const QString& name) {
    const QStringList parts = name.split(u'.');
    if (parts.size() != 4)
        return QString();
    QStringList octets;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return QString();
        for (QChar c : part)
            if (c < u'0' || c > u'9')
                return QString();
        const int value = part.toInt();
        if (value > 255)
            return QString();
        octets.append(QString::number(value));
    }
    return octets.join(u'.');
}

void Resolver::lookup(const QString& name) {
    abandon();
    const unsigned generation = ++m_generation;
    m_busy = true;
    m_name = name;
    m_lookupId = -1;
    const QString address = dottedDecimal(name);
    if (!address.isEmpty()) {
        // Answered from the event loop all the same, so callers see one order of events.
        QTimer::singleShot(0, this, [this, generation, address] {
            if (generation == m_generation && m_busy)
                finish(address, QString());
        });
        return;
    }
    m_timer->start(m_timeoutMs);
    m_lookupId = m_service->lookup(
        name, this, [this, generation](const QHostInfo& info) { answer(generation, info); });
}

void Resolver::answer(unsigned generation, const QHostInfo& info) {
    if (generation != m_generation || !m_busy)
        return; // a late answer to an abandoned look-up
    m_lookupId = -1;
    if (info.error() == QHostInfo::NoError) {
        for (const QHostAddress& a : info.addresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                finish(a.toString(), QString());
                return;
            }
        }
    }
    finish(QString(), failedText());
}

void Resolver::abandon() {
    if (!m_busy)
        return;
    if (m_lookupId >= 0)
        m_service->abort(m_lookupId);
    finish(QString(), canceledText());
}

void Resolver::finish(const QString& address, const QString& error) {
    m_timer->stop();
    if (m_lookupId >= 0) {
        m_service->abort(m_lookupId); // timed out: let the system drop it too
        m_lookupId = -1;
    }
    m_busy = false;
    ++m_generation;
    const QString name = m_name;
    if (error.isEmpty())
        emit resolved(name, address);
    else
        emit failed(name, error);
}

QString Resolver::resolve(const QString& name) {
    QEventLoop loop;
    std::optional<QString> address;
    QString error = canceledText();
    bool answered = false; // a nested look-up must not overwrite this one's answer
    lookup(name);
    const unsigned generation = m_generation;
    auto ok = connect(this, &Resolver::resolved, &loop, [&](const QString&, const QString& a) {
        if (std::exchange(answered, true))
            return;
        address = a;
        loop.quit();
    });
    auto bad = connect(this, &Resolver::failed, &loop, [&](const QString&, const QString& e) {
        if (std::exchange(answered, true))
            return;
        error = e;
        loop.quit();
    });
    if (m_busy && generation == m_generation)
        loop.exec();
    disconnect(ok);
    disconnect(bad);
    if (!address)
        throw Error(error);
    return *address;
}

} // namespace qn::discovery
