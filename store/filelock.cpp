#include "filelock.h"

#include "error.h"

#include <QtGlobal>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <thread>
#include <unistd.h>

namespace qn {
namespace {

std::chrono::milliseconds initialTimeout() {
    bool ok = false;
    int ms = qEnvironmentVariableIntValue("QUILLNET_LOCK_TIMEOUT_MS", &ok);
    return std::chrono::milliseconds(ok && ms >= 0 ? ms : 4000);
}

std::chrono::milliseconds& timeoutSetting() {
    static std::chrono::milliseconds value = initialTimeout();
    return value;
}

} // namespace

std::chrono::milliseconds lockTimeout() {
    return timeoutSetting();
}
void setLockTimeout(std::chrono::milliseconds timeout) {
    timeoutSetting() = timeout;
}

void FileLocks::attach(int fd, const QString& path) {
    m_fd = fd;
    m_path = path;
    m_held.clear();
}

void FileLocks::detach() {
    m_fd = -1;
    m_held.clear();
}

bool FileLocks::holdsExclusive(int64_t offset) const {
    auto it = m_held.find(offset);
    return it != m_held.end() && it->second.exclusive > 0;
}

// 0 when set, EAGAIN when another holder conflicts.
int FileLocks::osLock(int64_t offset, short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = offset;
    fl.l_len = 1;
    for (;;) {
        if (::fcntl(m_fd, F_OFD_SETLK, &fl) == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EACCES)
            return EAGAIN;
        throw StoreError(QStringLiteral("Cannot lock %1: %2")
                             .arg(m_path, QString::fromLocal8Bit(std::strerror(errno))));
    }
}

bool FileLocks::lock(int64_t offset, Mode mode, std::chrono::milliseconds timeout) {
    if (m_fd < 0)
        return true;
    Held& h = m_held[offset];
    bool needOs = mode == Mode::Exclusive ? h.exclusive == 0 : h.exclusive == 0 && h.shared == 0;
    if (needOs) {
        short type = mode == Mode::Exclusive ? F_WRLCK : F_RDLCK;
        auto deadline = std::chrono::steady_clock::now() + timeout;
        // Polling with a short, jittered back-off: a blocking wait cannot be bounded in time
        // without signals, and the jitter keeps two waiters from retrying in step.
        thread_local std::minstd_rand jitter{unsigned(::getpid())};
        int delayUs = 50;
        while (osLock(offset, type) != 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                if (h.shared == 0 && h.exclusive == 0)
                    m_held.erase(offset);
                return false;
            }
            std::this_thread::sleep_for(
                std::chrono::microseconds(delayUs / 2 + int(jitter() % unsigned(delayUs))));
            delayUs = std::min(delayUs * 2, 2000);
        }
    }
    ++(mode == Mode::Exclusive ? h.exclusive : h.shared);
    return true;
}

void FileLocks::unlock(int64_t offset, Mode mode) {
    auto it = m_held.find(offset);
    if (m_fd < 0 || it == m_held.end())
        return;
    Held& h = it->second;
    int& count = mode == Mode::Exclusive ? h.exclusive : h.shared;
    if (count == 0)
        return;
    --count;
    if (h.exclusive > 0)
        return;
    if (h.shared > 0) {
        if (mode == Mode::Exclusive)
            osLock(offset, F_RDLCK); // back to the shared lock still wanted; never conflicts
        return;
    }
    m_held.erase(it);
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = offset;
    fl.l_len = 1;
    while (::fcntl(m_fd, F_OFD_SETLK, &fl) != 0 && errno == EINTR) {
    }
}

} // namespace qn
