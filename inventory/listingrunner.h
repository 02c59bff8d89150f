#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class QProcess;

namespace qn::discovery {

/// Starts one program and reports when it has ended. Replaceable so that tests can stand in
/// for the listing batch.
class ProcessRunner : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ProcessRunner() override = default;

    /// Starts program with args in workingDirectory. finished() follows exactly once, also when
    /// the program could not be started.
    virtual void start(const QString& program, const QStringList& args,
                       const QString& workingDirectory) = 0;
    virtual bool isRunning() const = 0;
    /// Ends the program early; finished() still follows.
    virtual void stop() {}

signals:
    /// exitCode is -1 when the program did not start or was killed by a signal.
    void finished(int exitCode);
};

/// The real runner, on QProcess. The program's output is discarded.
class QProcessRunner : public ProcessRunner {
    Q_OBJECT
public:
    explicit QProcessRunner(QObject* parent = nullptr);
    ~QProcessRunner() override;

    void start(const QString& program, const QStringList& args,
               const QString& workingDirectory) override;
    bool isRunning() const override;
    void stop() override;

private:
    QProcess* m_process = nullptr;
    bool m_running = false;
};

/// Where an Auto-Find run takes its computers from. Lives in the user-interface thread; after
/// start() exactly one of finished() and failed() follows, from the event loop, unless cancel()
/// comes first.
class DiscoverySource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~DiscoverySource() override = default;

    /// Ignored (false) while a run is in progress.
    virtual bool start() = 0;
    virtual bool isRunning() const = 0;
    /// Stops a run in progress; neither finished() nor failed() follows.
    virtual void cancel() = 0;

signals:
    /// The computer names; entry k of addresses is the address the source gave for name k.
    /// addresses is empty when the source gives none.
    void finished(const QStringList& names, const QStringList& addresses);
    /// message is for the user.
    void failed(const QString& message);
};

/// Runs the listing batch netview.sh of the working folder with /bin/sh, in that folder, and
/// then reads the listing file net.txt there. The batch's exit status is not checked: whatever
/// the listing file then holds is read. The listing gives names without addresses.
class ListingRunner : public DiscoverySource {
    Q_OBJECT
public:
    /// Without a runner a QProcessRunner is used.
    explicit ListingRunner(const QString& workingFolder,
                           std::unique_ptr<ProcessRunner> runner = nullptr,
                           QObject* parent = nullptr);
    ~ListingRunner() override;

    static QString batchName() { return QStringLiteral("netview.sh"); }
    static QString listingName() { return QStringLiteral("net.txt"); }
    QString workingFolder() const { return m_workingFolder; }
    QString batchPath() const;
    QString listingPath() const;

    /// Starts the batch.
    bool start() override;
    bool isRunning() const override { return m_running; }
    void cancel() override;

    /// Runs the batch and reads the listing, servicing events while it waits. Throws qn::Error
    /// when the listing cannot be read (or a run is already in progress).
    QStringList runAndWait();

private:
    void batchEnded();

    QString m_workingFolder;
    std::unique_ptr<ProcessRunner> m_runner;
    bool m_running = false;
};

} // namespace qn::discovery
