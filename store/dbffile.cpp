#include "dbffile.h"

#include "error.h"

#include <QDate>
#include <QFile>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace qn {
namespace {

constexpr int kPageBytes = 4096;
constexpr int kReadAhead = 16;            // pages read at once by a sequential walk
constexpr size_t kMaxCachedPages = 16384; // 64 MB of rows; beyond that the cache starts over

uint16_t get16(const unsigned char* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t get32(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void put16(unsigned char* p, uint16_t v) {
    p[0] = v & 0xFF;
    p[1] = v >> 8;
}
void put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = (v >> (8 * i)) & 0xFF;
}

constexpr size_t kMapBytes = 4096;
constexpr int kStampOffset = 16;

// File systems whose page cache another machine's writes do not reach: there a mapping could
// show an old header, so each check reads the file instead.
bool networkFileSystem(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return true;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x65735546: // FUSE
    case 0x73757245: // Coda
    case 0x5346414F: // AFS
    case 0x00C36400: // Ceph
    case 0x01021997: // 9P
    case 0x7461636F: // OCFS2
    case 0x01161970: // GFS2
    case 0x0BD00BD0: // Lustre
        return true;
    default:
        return false;
    }
}

QString sysError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool validFieldName(const std::string& name) {
    if (name.empty() || name.size() > 10)
        return false;
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
            return false;
    return std::isalpha(static_cast<unsigned char>(name[0]));
}

} // namespace

void DbfFile::stampToday(unsigned char* p) {
    // Asking for the local date reads the time zone; once a minute is often enough.
    static time_t asked = 0;
    static unsigned char ymd[3];
    const time_t now = ::time(nullptr);
    if (now - asked >= 60 || now < asked) {
        const QDate today = QDate::currentDate();
        ymd[0] = static_cast<unsigned char>(today.year() - 1900);
        ymd[1] = static_cast<unsigned char>(today.month());
        ymd[2] = static_cast<unsigned char>(today.day());
        asked = now;
    }
    std::memcpy(p, ymd, sizeof ymd);
}

DbfFile::DbfFile() {
    m_pool.reset(kPageBytes);
}
DbfFile::~DbfFile() {
    close();
}

void DbfFile::create(const QString& path, const std::vector<FieldDef>& fields, bool productionIndex,
                     const std::vector<std::string>& indexedFields) {
    if (fields.empty() || fields.size() > 255)
        throw StoreError(
            QStringLiteral("Cannot create %1: a table needs 1 to 255 fields.").arg(path));
    int recordLength = 1;
    std::string header(32 + 32 * fields.size() + 1, '\0');
    auto* h = reinterpret_cast<unsigned char*>(header.data());
    for (size_t i = 0; i < fields.size(); ++i) {
        const FieldDef& f = fields[i];
        bool ok = validFieldName(f.name);
        switch (f.type) {
        case 'C':
            ok = ok && f.length >= 1 && f.length <= 254 && f.decimals == 0;
            break;
        case 'N':
            ok = ok && f.length >= 1 && f.length <= 20 && f.decimals >= 0 && f.decimals < f.length;
            break;
        case 'D':
            ok = ok && f.length == 8 && f.decimals == 0;
            break;
        case 'L':
            ok = ok && f.length == 1 && f.decimals == 0;
            break;
        default:
            ok = false;
        }
        if (!ok)
            throw StoreError(QStringLiteral("Cannot create %1: field %2 is not a valid %3 field.")
                                 .arg(path, QString::fromStdString(f.name), QChar(f.type)));
        unsigned char* d = h + 32 + 32 * i;
        std::memcpy(d, f.name.data(), f.name.size());
        d[11] = static_cast<unsigned char>(f.type);
        d[16] = static_cast<unsigned char>(f.length);
        d[17] = static_cast<unsigned char>(f.decimals);
        for (const auto& n : indexedFields)
            if (n == f.name)
                d[31] = 1;
        recordLength += f.length;
    }
    h[0] = kVersion;
    DbfFile::stampToday(h + 1);
    put32(h + 4, 0);
    put16(h + 8, static_cast<uint16_t>(header.size()));
    put16(h + 10, static_cast<uint16_t>(recordLength));
    h[28] = productionIndex ? 1 : 0;
    h[29] = kLanguageDriver1252;
    header.back() = '\x0D';
    header.push_back('\x1A');

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(header.data(), qint64(header.size())) != qint64(header.size()) || !file.flush())
        throw StoreError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

void DbfFile::open(const QString& path, bool writable) {
    close();
    m_path = path;
    QByteArray native = QFile::encodeName(path);
    m_fd = ::open(native.constData(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (m_fd < 0 && writable && (errno == EACCES || errno == EROFS)) {
        writable = false;
        m_fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    }
    if (m_fd < 0)
        throw StoreError(QStringLiteral("Cannot open table %1: %2").arg(path, sysError()));
    m_writable = writable;
    try {
        readHeader();
        m_network = networkFileSystem(m_fd);
        m_mapAllowed = !qEnvironmentVariableIsSet("QUILLNET_NO_HEADER_MAP") && !m_network;
    } catch (...) {
        close();
        throw;
    }
}

void DbfFile::mapHeader() {
    m_mapAllowed = false;
    void* p = ::mmap(nullptr, kMapBytes, PROT_READ, MAP_SHARED, m_fd, 0);
    if (p != MAP_FAILED)
        m_map = static_cast<const unsigned char*>(p);
}

void DbfFile::close() {
    if (m_map)
        ::munmap(const_cast<unsigned char*>(m_map), kMapBytes);
    m_map = nullptr;
    m_mapAllowed = false;
    m_checks = 0;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_fields.clear();
    dropCache();
    m_pool.reset(kPageBytes);
    m_count = m_headerCount = 0;
    m_deferred = false;
    m_deferFrom = 0;
    m_pendingRows.clear();
    m_pendingEdits.clear();
    m_restructured = false;
    m_unpublished = 0;
    m_cutTail = false;
    m_writtenValid = false;
}

void DbfFile::dropCache() {
    m_pages.clear();
    m_cachedPages = 0;
    m_lastMiss = -2;
}

// Keeps cached pages in step with bytes just written or read, where they continue what the
// page holds.
void DbfFile::storeCached(int64_t offset, const char* data, int length) {
    for (int64_t p = offset / kPageBytes; p <= (offset + length - 1) / kPageBytes; ++p) {
        if (size_t(p) >= m_pages.size() || !m_pages[size_t(p)].data)
            continue;
        Page& pg = m_pages[size_t(p)];
        const int64_t from = std::max(offset, p * kPageBytes) - p * kPageBytes;
        const int64_t to = std::min(offset + length, (p + 1) * kPageBytes) - p * kPageBytes;
        if (pg.valid < from)
            continue;
        std::memcpy(pg.data.get() + from, data + (p * kPageBytes + from - offset),
                    size_t(to - from));
        pg.valid = int(std::max<int64_t>(pg.valid, to));
    }
}

void DbfFile::dropRecords(const std::vector<uint32_t>& recnos) {
    for (uint32_t r : recnos) {
        if (r == 0)
            continue;
        const int64_t at = m_headerLength + int64_t(r - 1) * m_recordLength;
        for (int64_t p = at / kPageBytes; p <= (at + m_recordLength - 1) / kPageBytes; ++p)
            if (size_t(p) < m_pages.size() && m_pages[size_t(p)].data) {
                m_pages[size_t(p)].data.reset();
                m_pages[size_t(p)].valid = 0;
                --m_cachedPages;
            }
    }
}

void DbfFile::readHeader() {
    auto fail = [this](const QString& why) {
        return StoreError(QStringLiteral("%1 is not a usable dBASE table: %2").arg(m_path, why));
    };
    // The header (with the field list, in one read) comes before the size: a row appended
    // meanwhile then only makes the file longer than the count read, never shorter.
    std::string head(4096, '\0');
    const ssize_t got = ::pread(m_fd, head.data(), head.size(), 0);
    if (got < 0)
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
    m_fileSize = std::max<int64_t>(st.st_size, got);
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    const auto* h = reinterpret_cast<const unsigned char*>(head.data());
    if (got < 32)
        throw fail(QStringLiteral("the file is too short to hold a header."));
    if (h[0] != kVersion)
        throw fail(
            QStringLiteral("version byte 0x%1 is not a dBASE III/IV table without memo fields.")
                .arg(h[0], 2, 16, QChar('0')));
    if (h[15] != 0)
        throw fail(QStringLiteral("the table is encrypted."));
    std::memcpy(m_header, h, sizeof m_header);
    m_headerCount = get32(h + 4);
    m_headerLength = get16(h + 8);
    m_recordLength = get16(h + 10);
    m_productionIndex = h[28] != 0;
    m_languageDriver = h[29];
    if (m_headerLength < 33 || m_headerLength > m_fileSize)
        throw fail(
            QStringLiteral("the header length %1 does not fit the file.").arg(m_headerLength));
    std::string desc = head.substr(32, size_t(std::max<ssize_t>(got - 32, 0)));
    if (desc.size() < size_t(m_headerLength - 32)) {
        desc.resize(size_t(m_headerLength - 32));
        if (::pread(m_fd, desc.data(), desc.size(), 32) != ssize_t(desc.size()))
            throw fail(QStringLiteral("the field list cannot be read."));
    }
    desc.resize(size_t(m_headerLength - 32));
    m_layout = desc;
    m_fields.clear();
    int offset = 1;
    for (size_t pos = 0; pos + 32 <= desc.size() && desc[pos] != '\x0D'; pos += 32) {
        const auto* d = reinterpret_cast<const unsigned char*>(desc.data() + pos);
        DbfField f;
        size_t len = 0;
        while (len < 11 && d[len] != 0)
            ++len;
        f.name.assign(reinterpret_cast<const char*>(d), len);
        for (char& c : f.name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        f.type = static_cast<char>(d[11]);
        f.length = d[16];
        f.decimals = d[17];
        f.hasIndexTag = d[31] != 0;
        f.offset = offset;
        QString name = QString::fromLatin1(f.name.data(), qsizetype(f.name.size()));
        if (f.name.empty())
            throw fail(QStringLiteral("field %1 has no name.").arg(m_fields.size() + 1));
        if (f.type != 'C' && f.type != 'N' && f.type != 'D' && f.type != 'L')
            throw fail(QStringLiteral("field %1 has type '%2'; only C, D, N and L are supported.")
                           .arg(name, QChar(f.type)));
        if (f.length == 0 || (f.type == 'D' && f.length != 8) || (f.type == 'L' && f.length != 1))
            throw fail(QStringLiteral("field %1 has an invalid width %2.").arg(name).arg(f.length));
        offset += f.length;
        m_fields.push_back(std::move(f));
    }
    if (m_fields.empty())
        throw fail(QStringLiteral("it declares no fields."));
    if (offset > m_recordLength)
        throw fail(QStringLiteral("the record length %1 is shorter than its fields (%2).")
                       .arg(m_recordLength)
                       .arg(offset));
    int64_t physical = (m_fileSize - m_headerLength) / m_recordLength;
    m_count = static_cast<uint32_t>(std::min<int64_t>(m_headerCount, physical));
    QN_CHECK(m_count <= m_headerCount &&
             m_headerLength + int64_t(m_count) * m_recordLength <= m_fileSize);
    m_unpublished = 0;
    m_writtenValid = false;
    dropCache();
}

int DbfFile::fieldIndex(std::string_view name) const {
    for (size_t i = 0; i < m_fields.size(); ++i) {
        const std::string& n = m_fields[i].name;
        if (n.size() != name.size())
            continue;
        bool same = true;
        for (size_t k = 0; k < n.size() && same; ++k)
            same = n[k] == std::toupper(static_cast<unsigned char>(name[k]));
        if (same)
            return static_cast<int>(i);
    }
    return -1;
}

// The bytes [offset, offset + length) of the rows area, from cached pages; a miss reads the
// page (or, continuing a walk, the next few) but never past the last row.
const char* DbfFile::bytesAt(int64_t offset, int length, uint32_t recno) {
    const int64_t onFile = m_deferred ? std::min(m_count, m_deferFrom) : m_count;
    const int64_t end = m_headerLength + onFile * m_recordLength;
    const int64_t first = offset / kPageBytes, last = (offset + length - 1) / kPageBytes;
    for (int64_t p = first; p <= last; ++p) {
        const int need =
            int(std::min<int64_t>(offset + length, (p + 1) * kPageBytes) - p * kPageBytes);
        if (size_t(p) < m_pages.size() && m_pages[size_t(p)].valid >= need)
            continue;
        if (m_cachedPages >= kMaxCachedPages)
            dropCache();
        if (size_t(p) >= m_pages.size()) // once for the whole file, not by doubling
            m_pages.resize(std::max(size_t(p), size_t((end - 1) / kPageBytes)) + 1);
        // A walk reads ahead; a lookup reads its page alone.
        int64_t upto = p == m_lastMiss + 1 ? p + kReadAhead : std::max(p, last);
        upto = std::min(upto, (end - 1) / kPageBytes);
        // A row (at most 65,535 bytes) spans at most 17 pages, and a walk reads 17 at once.
        static_assert((0xFFFF + kPageBytes - 1) / kPageBytes + 1 <= kReadAhead + 2);
        iovec iov[kReadAhead + 2];
        int n = 0;
        QN_CHECK(upto - p < int64_t(std::size(iov)));
        for (int64_t q = p; q <= upto; ++q) {
            if (size_t(q) >= m_pages.size())
                m_pages.resize(size_t(q) + 1);
            Page& pg = m_pages[size_t(q)];
            if (!pg.data) {
                pg.data = m_pool.take();
                ++m_cachedPages;
            }
            pg.valid = 0;
            iov[n++] = {pg.data.get(), size_t(kPageBytes)};
        }
        ssize_t got = n == 1 ? ::pread(m_fd, iov[0].iov_base, iov[0].iov_len, p * kPageBytes)
                             : ::preadv(m_fd, iov, n, p * kPageBytes);
        if (got < 0)
            throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
        for (int64_t q = p; q <= upto; ++q) {
            const int64_t from = (q - p) * kPageBytes;
            m_pages[size_t(q)].valid = int(std::clamp<int64_t>(
                std::min<int64_t>(got, end - p * kPageBytes) - from, 0, kPageBytes));
        }
        m_lastMiss = upto;
        if (m_pages[size_t(p)].valid < need) // cut by another program: mended under the lock
            throw IndexMismatch(
                QStringLiteral(
                    "Cannot read record %1 of %2: the file is shorter than its header says.")
                    .arg(recno)
                    .arg(m_path));
    }
    if (first == last)
        return m_pages[size_t(first)].data.get() + (offset - first * kPageBytes);
    m_scratch.resize(size_t(length));
    for (int64_t p = first, done = 0; p <= last; ++p) {
        const int64_t from = std::max(offset, p * kPageBytes);
        const int64_t to = std::min(offset + length, (p + 1) * kPageBytes);
        std::memcpy(m_scratch.data() + done,
                    m_pages[size_t(p)].data.get() + (from - p * kPageBytes), size_t(to - from));
        done += to - from;
    }
    return m_scratch.data();
}

const char* DbfFile::record(uint32_t recno) {
    if (recno == 0 || recno > m_count)
        throw StoreError(QStringLiteral("Record %1 does not exist in %2.").arg(recno).arg(m_path));
    if (m_deferred) {
        if (recno > m_deferFrom)
            return m_pendingRows.data() + size_t(recno - m_deferFrom - 1) * size_t(m_recordLength);
        if (auto it = m_pendingEdits.find(recno); it != m_pendingEdits.end())
            return it->second.data();
    }
    return bytesAt(m_headerLength + int64_t(recno - 1) * m_recordLength, m_recordLength, recno);
}

void DbfFile::pwriteAll(const void* data, size_t size, int64_t offset) {
    if (!m_writable)
        throw StoreError(QStringLiteral("Cannot write %1: the table is read-only.").arg(m_path));
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::pwrite(m_fd, p, size, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw StoreError(QStringLiteral("Cannot write %1: %2").arg(m_path, sysError()));
        }
        p += n;
        size -= size_t(n);
        offset += n;
    }
}

void DbfFile::writeRecord(uint32_t recno, const char* data, bool publishNow) {
    if (recno == 0 || recno > m_count)
        throw StoreError(QStringLiteral("Record %1 does not exist in %2.").arg(recno).arg(m_path));
    if (m_deferred) {
        if (recno > m_deferFrom)
            std::memcpy(m_pendingRows.data() + size_t(recno - m_deferFrom - 1) * m_recordLength,
                        data, size_t(m_recordLength));
        else
            m_pendingEdits[recno].assign(data, size_t(m_recordLength));
    } else {
        const int64_t at = m_headerLength + int64_t(recno - 1) * m_recordLength;
        pwriteAll(data, size_t(m_recordLength), at);
        storeCached(at, data, m_recordLength);
    }
    if (publishNow)
        publish();
}

uint32_t DbfFile::appendRecord(const char* data, bool publishNow) {
    uint32_t recno = m_count + 1;
    if (m_deferred) {
        m_pendingRows.append(data, size_t(m_recordLength));
        m_count = recno;
        m_unpublished = 0;
        if (publishNow)
            publish();
        return recno;
    }
    // The record and its end marker go down before the count that publishes them.
    std::string buf(data, size_t(m_recordLength));
    buf.push_back('\x1A');
    int64_t at = m_headerLength + int64_t(recno - 1) * m_recordLength;
    pwriteAll(buf.data(), buf.size(), at);
    if (m_cutTail || m_count + 1 < m_headerCount) {
        // A longer file or header than our count (a damaged or cut table) ends here now.
        if (::ftruncate(m_fd, at + int64_t(buf.size())) != 0)
            throw StoreError(QStringLiteral("Cannot write %1: %2").arg(m_path, sysError()));
        m_cutTail = false;
    }
    m_fileSize = at + int64_t(buf.size());
    m_count = recno;
    m_unpublished = 0;
    QN_CHECK(m_fileSize == m_headerLength + int64_t(m_count) * m_recordLength + 1);
    storeCached(at, data, m_recordLength);
    if (publishNow)
        publish();
    return recno;
}

void DbfFile::setDeferred(bool on) {
    if (on && !m_deferred)
        m_deferFrom = m_count;
    if (!on)
        dropPending();
    m_deferred = on;
}

void DbfFile::writePending() {
    if (!m_deferred)
        return;
    if (m_count > m_deferFrom) {
        // The rows and their end marker in one call; a longer file (rows nobody vouches for,
        // or a damaged tail) ends after them.
        std::string buf = std::move(m_pendingRows);
        buf.push_back(dbf::kEndOfFile);
        const int64_t at = m_headerLength + int64_t(m_deferFrom) * m_recordLength;
        pwriteAll(buf.data(), buf.size(), at);
        if (m_cutTail || m_count < m_headerCount) {
            if (::ftruncate(m_fd, at + int64_t(buf.size())) != 0)
                throw StoreError(QStringLiteral("Cannot write %1: %2").arg(m_path, sysError()));
            m_cutTail = false;
        }
        m_fileSize = at + int64_t(buf.size());
        storeCached(at, buf.data(), int(buf.size() - 1));
    }
    for (const auto& [recno, data] : m_pendingEdits) {
        const int64_t at = m_headerLength + int64_t(recno - 1) * m_recordLength;
        pwriteAll(data.data(), data.size(), at);
        storeCached(at, data.data(), m_recordLength);
    }
    m_pendingRows.clear();
    m_pendingEdits.clear();
    m_deferFrom = m_count;
}

void DbfFile::dropPending() {
    if (!m_deferred)
        return;
    if (m_count > m_deferFrom)
        m_count = m_deferFrom;
    m_pendingRows.clear();
    m_pendingEdits.clear();
    m_deferFrom = m_count;
}

void DbfFile::disownUnpublished() {
    if (m_unpublished == 0)
        return;
    m_unpublished = 0;
    m_cutTail = true;
}

void DbfFile::publish() {
    if (hasPending())
        writePending();
    if (m_network && ::fdatasync(m_fd) != 0)
        throw StoreError(QStringLiteral("Cannot write %1: %2").arg(m_path, sysError()));
    writeHeaderStamp(m_count);
}

std::string DbfFile::tail() {
    const int64_t end = m_headerLength + int64_t(m_count) * m_recordLength;
    std::string bytes(size_t(std::max<int64_t>(m_fileSize - end, 0)), '\0');
    if (!bytes.empty() && ::pread(m_fd, bytes.data(), bytes.size(), end) != ssize_t(bytes.size()))
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
    if (bytes.size() == 1 && bytes[0] == dbf::kEndOfFile)
        bytes.clear();
    return bytes;
}

void DbfFile::endAfterCompleteRecords() {
    const int64_t end = m_headerLength + int64_t(m_count) * m_recordLength;
    const char eof = dbf::kEndOfFile;
    pwriteAll(&eof, 1, end);
    if (::ftruncate(m_fd, end + 1) != 0)
        throw StoreError(QStringLiteral("Cannot write %1: %2").arg(m_path, sysError()));
    m_fileSize = end + 1;
    m_cutTail = false;
    writeHeaderStamp(m_count);
    QN_CHECK(!cutShort());
}

// Date, count and change stamp in one write; the bytes between keep what was read.
void DbfFile::writeHeaderStamp(uint32_t count) {
    unsigned char h[32];
    std::memcpy(h, m_header, sizeof h);
    DbfFile::stampToday(h + 1);
    put32(h + 4, count);
    put32(h + kStampOffset, get32(h + kStampOffset) + 1);
    h[14] = 0; // the change is complete once this lands
    pwriteAll(h + 1, kStampOffset + 4 - 1, 1);
    std::memcpy(m_header, h, sizeof h);
    std::memcpy(m_written, h, sizeof h);
    m_writtenValid = true;
    m_headerCount = count;
}

int64_t copyFileBytes(int from, const QString& fromName, int to, const QString& toName,
                      int64_t offset) {
    std::vector<char> buf(size_t(1) << 20);
    int64_t at = offset;
    for (;;) {
        const ssize_t n = ::pread(from, buf.data(), buf.size(), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw StoreError(QStringLiteral("Cannot read %1: %2").arg(fromName, sysError()));
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::pwrite(to, buf.data() + done, size_t(n - done), at + done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                throw StoreError(
                    QStringLiteral("Cannot write %1: %2")
                        .arg(toName, w < 0 ? sysError() : QStringLiteral("disk full")));
            done += w;
        }
        at += n;
    }
    if (::ftruncate(to, at) != 0)
        throw StoreError(QStringLiteral("Cannot write %1: %2").arg(toName, sysError()));
    return at;
}

void DbfFile::replaceWith(int copyFd, const QString& copyName, uint32_t stamp) {
    if (!m_writable)
        throw StoreError(QStringLiteral("Cannot write %1: the table is read-only.").arg(m_path));
    unsigned char h[32];
    if (::pread(copyFd, h, sizeof h, 0) != ssize_t(sizeof h))
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(copyName, sysError()));
    // The header last: until it lands, readers keep the old count and stamp, and the mark set
    // before tells the next writer that rows and index may disagree.
    copyFileBytes(copyFd, copyName, m_fd, m_path, sizeof h);
    if (m_network && ::fdatasync(m_fd) != 0)
        throw StoreError(QStringLiteral("Cannot write %1: %2").arg(m_path, sysError()));
    put32(h + kStampOffset, stamp);
    h[14] = 0;
    pwriteAll(h, sizeof h, 0);
    m_writtenValid = false;
    dropCache();
    refreshLocked();
}

void DbfFile::setIncomplete(bool on, unsigned char mark) {
    const unsigned char v = on ? mark : 0;
    if (m_header[14] == v)
        return;
    pwriteAll(&v, 1, 14);
    m_header[14] = v;
    m_writtenValid = false;
}

void DbfFile::setProductionIndexFlag() {
    const unsigned char on = 1;
    pwriteAll(&on, 1, dbf::kProductionIndexAt);
    m_header[dbf::kProductionIndexAt] = on;
    m_productionIndex = true;
}

uint32_t DbfFile::changeStamp() const {
    return get32(m_header + kStampOffset);
}

std::string DbfFile::blankRecord() const {
    return std::string(size_t(m_recordLength), ' ');
}

bool DbfFile::headerChanged() {
    if (m_fd < 0)
        return false;
    unsigned char now[32];
    // Mapping costs more than a few reads; only a table checked often gets one.
    if (!m_map && m_mapAllowed && ++m_checks > 16)
        mapHeader();
    if (m_map) {
        // Another process's pwrite lands in the same page cache this maps.
        const volatile unsigned char* p = m_map;
        for (size_t i = 0; i < sizeof now; ++i)
            now[i] = p[i];
    } else if (::pread(m_fd, now, sizeof now, 0) != ssize_t(sizeof now)) {
        return true; // let refresh() report the error
    }
    return std::memcmp(now, m_header, sizeof now) != 0;
}

bool DbfFile::refresh(bool force) {
    if (m_fd >= 0 && m_restructured)
        restructured();
    if (force)
        return refreshLocked();
    if (m_fd < 0)
        return false;
    // Through the mapping the check costs no call; without one, the read below is the check.
    if ((m_map || m_mapAllowed) && !headerChanged())
        return false;
    const unsigned char* h = readHeaderAndLayout();
    if (std::memcmp(h, m_header, sizeof m_header) == 0)
        return false;
    checkLayout(h);
    std::memcpy(m_header, h, sizeof m_header);
    m_headerCount = get32(h + 4);
    m_count = m_headerCount;
    m_pendingRows.clear(); // not ours to publish any more
    m_pendingEdits.clear();
    m_deferFrom = m_count;
    m_writtenValid = false;
    return true;
}

// The header and the field list in one read: another program may have changed the list.
const unsigned char* DbfFile::readHeaderAndLayout() {
    m_headerBuf.resize(size_t(m_headerLength));
    const ssize_t got = ::pread(m_fd, m_headerBuf.data(), m_headerBuf.size(), 0);
    if (got < ssize_t(sizeof m_header))
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
    m_headerBuf.resize(size_t(got));
    return reinterpret_cast<const unsigned char*>(m_headerBuf.data());
}

void DbfFile::checkLayout(const unsigned char* h) {
    if (m_headerBuf.size() != size_t(m_headerLength) || h[0] != m_header[0] ||
        std::memcmp(h + dbf::kHeaderLengthAt, m_header + dbf::kHeaderLengthAt, 4) != 0 ||
        m_headerBuf.compare(sizeof m_header, std::string::npos, m_layout) != 0)
        restructured();
}

bool DbfFile::refreshLocked() {
    m_unpublishedNew = false;
    if (m_fd < 0)
        return false;
    dropPending();
    checkStillThere();
    const unsigned char* h = readHeaderAndLayout();
    if (m_writtenValid && std::memcmp(h, m_written, sizeof m_written) == 0) {
        // Nobody wrote since this object did (a writer sets the unfinished-change mark in
        // the header before anything else): its count, and what it knew past it, stand.
        return false;
    }
    m_cutTail = false;
    const uint32_t knownUnpublished = m_unpublished;
    m_unpublished = 0;
    const bool changed = std::memcmp(h, m_header, sizeof m_header) != 0;
    if (changed)
        checkLayout(h);
    std::memcpy(m_header, h, sizeof m_header);
    m_headerCount = get32(h + 4);
    m_writtenValid = false;
    const uint32_t before = m_count;
    confirmCount();
    m_unpublishedNew = m_unpublished > 0 && m_unpublished != knownUnpublished;
    return changed || m_count != before;
}

// Reads the last row the header promises and what follows it, instead of trusting a size:
// the count is the header's when that row is whole; a file cut short ends the count at its
// last whole row; whole rows past the count are unpublished ones, never to be overwritten.
void DbfFile::confirmCount() {
    const uint32_t promised = m_headerCount;
    const uint32_t from = std::max<uint32_t>(promised, 1);
    const int64_t at = m_headerLength + int64_t(from - 1) * m_recordLength;
    std::string buf(size_t(2 * m_recordLength + 1), '\0');
    const ssize_t got = ::pread(m_fd, buf.data(), buf.size(), at);
    if (got < 0)
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
    const int64_t whole = promised == 0 ? 0 : (got >= m_recordLength ? 1 : 0);
    const int64_t after = promised == 0 ? got : got - m_recordLength;
    if (whole == (promised == 0 ? 0 : 1) && after <= 1) {
        // The common case: the promised row is there, then at most the end marker.
        m_count = promised;
        m_fileSize = at + got;
        if (promised > 0)
            storeCached(at, buf.data(), m_recordLength);
        return;
    }
    // Rare: a cut file, or rows past the count. Only now is the size asked for.
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
    m_fileSize = got > 0 ? std::max<int64_t>(st.st_size, at + got) : int64_t(st.st_size);
    const int64_t physical = std::max<int64_t>((m_fileSize - m_headerLength) / m_recordLength, 0);
    m_count = uint32_t(std::min<int64_t>(promised, physical));
    if (physical > promised)
        m_unpublished = uint32_t(physical - promised);
    m_cutTail = m_fileSize > m_headerLength + physical * m_recordLength + 1;
    dropCache();
}

void DbfFile::adoptUnpublished() {
    m_count += m_unpublished;
    m_unpublished = 0;
}

// Writes to a file whose folder was removed or moved away would succeed and be lost; a forced
// refresh starts every write, so refuse it there before anything changes.
void DbfFile::checkStillThere() const {
    struct stat named {};
    const QByteArray native = QFile::encodeName(m_path);
    if (::stat(native.constData(), &named) != 0 || uint64_t(named.st_dev) != m_dev ||
        uint64_t(named.st_ino) != m_ino)
        throw StoreError(QStringLiteral("The table %1 is no longer where it was opened: its "
                                        "folder was removed, moved or disconnected. Nothing "
                                        "was written.")
                             .arg(m_path));
}

// Fields, offsets and compiled expressions all assume the layout read at open; a table whose
// layout changed under it stays refused until it is opened again.
void DbfFile::restructured() {
    m_restructured = true;
    throw StoreError(QStringLiteral("The table %1 was restructured by another program while it "
                                    "was open (its field list changed); it must be opened again.")
                         .arg(m_path));
}

void DbfFile::reloadRecord(uint32_t recno) {
    if (recno == 0 || recno > m_count)
        return;
    dropRecords({recno}); // the next read goes to the file
}

} // namespace qn
