#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace qn::mounts {

/// One line of /proc/self/mountinfo, the parts that decide whether sharing is safe.
struct Mount {
    QString point;
    QString type;
    QStringList options; // per-mount and file-system options together
};

std::optional<Mount> parseLine(const QString& line);

/// The option of a network mount that makes writing by several computers unsafe: one that
/// keeps byte-range locks on this computer (cifs nobrl, NFS nolock or local_lock=posix/all)
/// or caches file data without noticing others' changes (cifs cache=loose). Empty if none.
QString unsafeOption(const Mount& mount);

/// The message refusing writes to tables in folder when the mount holding it (the longest
/// mount point that contains it, in mountinfo's text) has an unsafe option; else empty.
QString refusal(const QString& folder, const QString& mountinfo);
/// The same for this process's mounts.
QString refusal(const QString& folder);

} // namespace qn::mounts
