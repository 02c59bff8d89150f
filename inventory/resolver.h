#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QHostInfo;
class QTimer;

namespace qn::discovery {

/// The platform's host-name service. Replaceable so that tests can answer late or never.
class NameService {
public:
    virtual ~NameService() = default;
    /// Starts a look-up and returns its id. done is called later, in context's thread, unless
    /// the look-up was aborted first.
    virtual int lookup(const QString& name, QObject* context,
                       std::function<void(const QHostInfo&)> done) = 0;
    virtual void abort(int id) = 0;
};

/// QHostInfo, i.e. getaddrinfo and the system's name service switch. A look-up cannot be
/// aborted; its answer comes anyway.
class SystemNameService : public NameService {
public:
    int lookup(const QString& name, QObject* context,
               std::function<void(const QHostInfo&)> done) override;
    void abort(int id) override;
};

/// Resolves a computer name to an IPv4 address in dotted-decimal text. One look-up at a time: a
/// new one abandons the one before, whose answer, should it still come, is dropped. Lives in
/// the user-interface thread and never blocks it.
class Resolver : public QObject {
    Q_OBJECT
public:
    static QString failedText() { return QStringLiteral("Host Lookup Failed"); }
    static QString timedOutText() { return QStringLiteral("Host Lookup Timed Out"); }
    static QString canceledText() { return QStringLiteral("Host Lookup Canceled"); }

    /// Without a service the system's is used.
    explicit Resolver(std::unique_ptr<NameService> service = nullptr, QObject* parent = nullptr);
    ~Resolver() override;

    /// Time limit of one look-up.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    int timeout() const { return m_timeoutMs; }

    /// The address when name is dotted-decimal text (four numbers 0 to 255), else empty.
    static QString dottedDecimal(const QString& name);

    /// Starts a look-up; exactly one of resolved() and failed() follows, never before this
    /// returns, unless abandon() or a later lookup() comes first.
    void lookup(const QString& name);
    /// Drops the look-up in progress, if any; it reports failed() with canceledText().
    void abandon();
    bool isBusy() const { return m_busy; }

    /// Resolves and waits, running a local event loop so that windows stay serviced. Throws
    /// qn::Error with one of the three texts above.
    QString resolve(const QString& name);

signals:
    void resolved(const QString& name, const QString& address);
    void failed(const QString& name, const QString& message);

private:
    void answer(unsigned generation, const QHostInfo& info);
    void finish(const QString& address, const QString& error);

    std::unique_ptr<NameService> m_service;
    QTimer* m_timer;
    int m_timeoutMs = 5000;
    unsigned m_generation = 0;
    bool m_busy = false;
    int m_lookupId = -1;
    QString m_name;
};

} // namespace qn::discovery
