#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <map>

namespace qn {

/// Lock positions of the dBASE convention: single bytes far past any data, so that locks never
/// block plain reads on systems where byte-range locks are mandatory. The header (the whole
/// table's write lock) sits at the anchor, record n at anchor - n; an index file uses its anchor.
namespace lockpos {
constexpr int64_t kAnchor = 0xEFFFFFFE;
constexpr int64_t header() {
    return kAnchor;
}
constexpr int64_t record(uint32_t recno) {
    return kAnchor - int64_t(recno);
}
constexpr int64_t index() {
    return kAnchor;
}
} // namespace lockpos

/// How long a lock held by another process is waited for before the request fails. Default
/// 4 s; the environment variable QUILLNET_LOCK_TIMEOUT_MS overrides it (tests use short ones).
std::chrono::milliseconds lockTimeout();
void setLockTimeout(std::chrono::milliseconds timeout);

/// The byte-range locks one open file holds, as Linux open-file-description locks: they belong
/// to this descriptor, not to the process, so closing another descriptor of the same file does
/// not drop them, and they vanish with the process. Requests nest: a byte locked twice here is
/// released by the second unlock, and an exclusive request on a shared byte upgrades it until
/// the exclusive request is released. Not thread-safe.
class FileLocks {
public:
    enum class Mode { Shared, Exclusive };

    void attach(int fd, const QString& path);
    /// Forgets every lock (the descriptor is about to close, which releases them).
    void detach();

    /// Takes the byte, retrying for up to timeout while another holder has it. False when it
    /// stayed busy; throws StoreError if the file cannot be locked at all.
    bool lock(int64_t offset, Mode mode, std::chrono::milliseconds timeout);
    void unlock(int64_t offset, Mode mode);
    /// Whether this descriptor holds the byte (in any mode, or exclusively).
    bool holds(int64_t offset) const { return m_held.count(offset) != 0; }
    bool holdsExclusive(int64_t offset) const;
    /// Whether another descriptor holds the byte in a way that would refuse an exclusive
    /// lock here. Asks once; waits for nothing.
    bool heldElsewhere(int64_t offset) const;

private:
    struct Held {
        int shared = 0;
        int exclusive = 0;
    };
    int osLock(int64_t offset, short type);

    int m_fd = -1;
    QString m_path;
    std::map<int64_t, Held> m_held;
};

} // namespace qn
