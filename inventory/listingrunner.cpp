#include "listingrunner.h"

#include "error.h"
#include "listing.h"

#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <optional>
#include <signal.h>
#include <unistd.h>

namespace qn::discovery {

QProcessRunner::QProcessRunner(QObject* parent)
    : ProcessRunner(parent), m_process(new QProcess(this)) {
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->setStandardErrorFile(QProcess::nullDevice());
    m_process->setStandardInputFile(QProcess::nullDevice());
    // The batch gets a process group of its own, so that stopping it stops what it started.
    m_process->setChildProcessModifier([] { ::setpgid(0, 0); });
    connect(m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        m_running = false;
        emit finished(status == QProcess::NormalExit ? code : -1);
    });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        // Only a failed start ends without finished().
        if (error == QProcess::FailedToStart && m_running) {
            m_running = false;
            emit finished(-1);
        }
    });
}

QProcessRunner::~QProcessRunner() {
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

void QProcessRunner::start(const QString& program, const QStringList& args,
                           const QString& workingDirectory) {
    m_running = true;
    m_process->setWorkingDirectory(workingDirectory);
    m_process->start(program, args);
}

void QProcessRunner::stop() {
    if (m_process->state() != QProcess::NotRunning && m_process->processId() > 0)
        ::kill(-pid_t(m_process->processId()), SIGKILL);
}

bool QProcessRunner::isRunning() const {
    return m_running;
}

ListingRunner::ListingRunner(const QString& workingFolder, std::unique_ptr<ProcessRunner> runner,
                             QObject* parent)
    : DiscoverySource(parent), m_workingFolder(workingFolder), m_runner(std::move(runner)) {
    if (!m_runner)
        m_runner = std::make_unique<QProcessRunner>();
    connect(m_runner.get(), &ProcessRunner::finished, this, &ListingRunner::batchEnded);
}

ListingRunner::~ListingRunner() = default;

QString ListingRunner::batchPath() const {
    return QDir(m_workingFolder).filePath(batchName());
}

QString ListingRunner::listingPath() const {
    return QDir(m_workingFolder).filePath(listingName());
}

void ListingRunner::cancel() {
    if (!m_running)
        return;
    m_running = false;
    m_runner->stop();
}

bool ListingRunner::start() {
    if (m_running)
        return false;
    m_running = true;
    m_runner->start(QStringLiteral("/bin/sh"), {batchPath()}, m_workingFolder);
    return true;
}

void ListingRunner::batchEnded() {
    if (!m_running)
        return;
    m_running = false;
    QStringList names;
    try {
        names = Listing::readFile(listingPath());
    } catch (const Error& e) {
        emit failed(e.message());
        return;
    }
    emit finished(names, {});
}

QStringList ListingRunner::runAndWait() {
    if (m_running)
        throw Error(QStringLiteral("The network listing is already running."));
    QEventLoop loop;
    std::optional<QStringList> names;
    QString error;
    auto ok = connect(this, &ListingRunner::finished, &loop, [&](const QStringList& n) {
        names = n;
        loop.quit();
    });
    auto bad = connect(this, &ListingRunner::failed, &loop, [&](const QString& message) {
        error = message;
        loop.quit();
    });
    start();
    // The runner may have answered already (a program that could not start).
    if (m_running)
        loop.exec();
    disconnect(ok);
    disconnect(bad);
    if (!names)
        throw Error(error);
    return *names;
}

} // namespace qn::discovery
