#pragma once

#include "error.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace fuzz {

// The input as a file with a path, kept in memory so that runs do not touch the disk.
class MemFile {
public:
    MemFile(const uint8_t* data, size_t size) {
        m_fd = ::memfd_create("fuzz", MFD_CLOEXEC);
        if (m_fd < 0)
            std::abort();
        size_t done = 0;
        while (done < size) {
            ssize_t n = ::write(m_fd, data + done, size - done);
            if (n <= 0)
                std::abort();
            done += size_t(n);
        }
        m_path = QStringLiteral("/proc/self/fd/%1").arg(m_fd);
    }
    ~MemFile() { ::close(m_fd); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;
    const QString& path() const { return m_path; }

private:
    int m_fd = -1;
    QString m_path;
};

// A refused file must say which file it was.
inline void expectNamed(const qn::StoreError& e, const QString& path) {
    if (!e.message().contains(path)) {
        std::fprintf(stderr, "error without the file name: %s\n", e.what());
        std::abort();
    }
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
}

} // namespace fuzz
