#include "dbffile.h"

#include "error.h"

#include <QDate>
#include <QFile>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace qn {
namespace {

constexpr int kChunkBytes = 64 * 1024;

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

void stampDate(unsigned char* p) {
    QDate today = QDate::currentDate();
    p[0] = static_cast<unsigned char>(today.year() - 1900);
    p[1] = static_cast<unsigned char>(today.month());
    p[2] = static_cast<unsigned char>(today.day());
}

} // namespace

DbfFile::DbfFile() = default;
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
    stampDate(h + 1);
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
        m_mapAllowed =
            !qEnvironmentVariableIsSet("QUILLNET_NO_HEADER_MAP") && !networkFileSystem(m_fd);
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
    m_chunks.clear();
    m_chunkFill.clear();
    m_count = m_headerCount = 0;
    m_restructured = false;
}

void DbfFile::readHeader() {
    auto fail = [this](const QString& why) {
        return StoreError(QStringLiteral("%1 is not a usable dBASE table: %2").arg(m_path, why));
    };
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
    m_fileSize = st.st_size;
    unsigned char h[32];
    if (m_fileSize < 32 || ::pread(m_fd, h, 32, 0) != 32)
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
    std::string desc(static_cast<size_t>(m_headerLength - 32), '\0');
    if (::pread(m_fd, desc.data(), desc.size(), 32) != ssize_t(desc.size()))
        throw fail(QStringLiteral("the field list cannot be read."));
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
    m_chunkRecords = std::max(1, kChunkBytes / m_recordLength);
    QN_CHECK(m_count <= m_headerCount &&
             m_headerLength + int64_t(m_count) * m_recordLength <= m_fileSize);
    m_chunks.clear();
    m_chunkFill.clear();
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

char* DbfFile::chunkFor(uint32_t recno) {
    size_t c = (recno - 1) / m_chunkRecords;
    if (c >= m_chunks.size()) {
        m_chunks.resize(c + 1);
        m_chunkFill.resize(c + 1, 0);
    }
    uint32_t first = static_cast<uint32_t>(c * m_chunkRecords) + 1;
    uint32_t need = recno - first + 1;
    QN_CHECK(recno >= first && need <= m_chunkRecords);
    if (!m_chunks[c])
        m_chunks[c] = std::make_unique<char[]>(size_t(m_chunkRecords) * m_recordLength);
    if (m_chunkFill[c] < need) {
        uint32_t upto = std::min<uint32_t>(m_chunkRecords, m_count - first + 1);
        size_t from = size_t(m_chunkFill[c]) * m_recordLength;
        size_t bytes = size_t(upto) * m_recordLength - from;
        int64_t at = m_headerLength + int64_t(first - 1) * m_recordLength + int64_t(from);
        ssize_t got = ::pread(m_fd, m_chunks[c].get() + from, bytes, at);
        if (got < 0)
            throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
        uint32_t whole = static_cast<uint32_t>((from + size_t(got)) / m_recordLength);
        if (whole < need)
            throw StoreError(
                QStringLiteral(
                    "Cannot read record %1 of %2: the file is shorter than its header says.")
                    .arg(recno)
                    .arg(m_path));
        m_chunkFill[c] = whole;
    }
    return m_chunks[c].get() + size_t(recno - first) * m_recordLength;
}

const char* DbfFile::record(uint32_t recno) {
    if (recno == 0 || recno > m_count)
        throw StoreError(QStringLiteral("Record %1 does not exist in %2.").arg(recno).arg(m_path));
    return chunkFor(recno);
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

void DbfFile::writeRecord(uint32_t recno, const char* data) {
    if (recno == 0 || recno > m_count)
        throw StoreError(QStringLiteral("Record %1 does not exist in %2.").arg(recno).arg(m_path));
    pwriteAll(data, size_t(m_recordLength), m_headerLength + int64_t(recno - 1) * m_recordLength);
    std::memcpy(chunkFor(recno), data, size_t(m_recordLength));
    writeHeaderStamp(m_count);
}

uint32_t DbfFile::appendRecord(const char* data) {
    uint32_t recno = m_count + 1;
    // The record and its end marker go down before the count that publishes them.
    std::string buf(data, size_t(m_recordLength));
    buf.push_back('\x1A');
    int64_t at = m_headerLength + int64_t(recno - 1) * m_recordLength;
    pwriteAll(buf.data(), buf.size(), at);
    if (m_count + 1 < m_headerCount || int64_t(at + int64_t(buf.size())) < m_fileSize) {
        // A longer file or header than our count (a damaged or cut table) ends here now.
        if (::ftruncate(m_fd, at + int64_t(buf.size())) != 0)
            throw StoreError(QStringLiteral("Cannot write %1: %2").arg(m_path, sysError()));
    }
    m_fileSize = at + int64_t(buf.size());
    writeHeaderStamp(recno);
    m_count = recno;
    QN_CHECK(m_fileSize == m_headerLength + int64_t(m_count) * m_recordLength + 1);
    size_t c = (recno - 1) / m_chunkRecords;
    if (c < m_chunks.size() && m_chunks[c] && m_chunkFill[c] == recno - 1 - c * m_chunkRecords) {
        std::memcpy(m_chunks[c].get() + size_t(m_chunkFill[c]) * m_recordLength, data,
                    size_t(m_recordLength));
        ++m_chunkFill[c];
    }
    return recno;
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
    writeHeaderStamp(m_count);
    QN_CHECK(!cutShort());
}

// Date, count and change stamp in one write; the bytes between keep what was read.
void DbfFile::writeHeaderStamp(uint32_t count) {
    unsigned char h[32];
    std::memcpy(h, m_header, sizeof h);
    stampDate(h + 1);
    put32(h + 4, count);
    put32(h + kStampOffset, get32(h + kStampOffset) + 1);
    pwriteAll(h + 1, kStampOffset + 4 - 1, 1);
    std::memcpy(m_header, h, sizeof h);
    m_headerCount = count;
}

void DbfFile::setIncomplete(bool on) {
    const unsigned char v = on ? 1 : 0;
    if (m_header[14] == v)
        return;
    pwriteAll(&v, 1, 14);
    m_header[14] = v;
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
    if (m_fd < 0)
        return false;
    if (m_restructured)
        restructured();
    if (!force && !headerChanged())
        return false;
    if (force)
        checkStillThere();
    // The field list comes in the same read: another program may have changed it.
    m_scratch.resize(size_t(m_headerLength));
    const ssize_t got = ::pread(m_fd, m_scratch.data(), m_scratch.size(), 0);
    if (got < ssize_t(sizeof m_header))
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
    const auto* h = reinterpret_cast<const unsigned char*>(m_scratch.data());
    if (std::memcmp(h, m_header, sizeof m_header) == 0)
        return false;
    if (got != ssize_t(m_scratch.size()) || h[0] != m_header[0] ||
        std::memcmp(h + 8, m_header + 8, 4) != 0 ||
        m_scratch.compare(sizeof m_header, std::string::npos, m_layout) != 0)
        restructured();
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
    std::memcpy(m_header, h, sizeof m_header);
    m_fileSize = st.st_size;
    m_headerCount = get32(h + 4);
    int64_t physical = (m_fileSize - m_headerLength) / m_recordLength;
    m_count =
        static_cast<uint32_t>(std::min<int64_t>(m_headerCount, std::max<int64_t>(physical, 0)));
    // Any cached record may have been rewritten; the stamp does not say which.
    m_chunks.clear();
    m_chunkFill.clear();
    return true;
}

// Writes to a file whose folder was removed or moved away would succeed and be lost; a forced
// refresh starts every write, so refuse it there before anything changes.
void DbfFile::checkStillThere() const {
    struct stat open {
    }, named{};
    if (::fstat(m_fd, &open) != 0)
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
    const QByteArray native = QFile::encodeName(m_path);
    if (open.st_nlink == 0 || ::stat(native.constData(), &named) != 0 ||
        named.st_dev != open.st_dev || named.st_ino != open.st_ino)
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
    size_t c = (recno - 1) / m_chunkRecords;
    uint32_t first = static_cast<uint32_t>(c * m_chunkRecords) + 1;
    if (c >= m_chunks.size() || !m_chunks[c] || m_chunkFill[c] < recno - first + 1)
        return; // not cached: the next read goes to the file anyway
    char* slot = m_chunks[c].get() + size_t(recno - first) * m_recordLength;
    int64_t at = m_headerLength + int64_t(recno - 1) * m_recordLength;
    if (::pread(m_fd, slot, size_t(m_recordLength), at) != m_recordLength)
        throw StoreError(
            QStringLiteral("Cannot read record %1 of %2: %3").arg(recno).arg(m_path, sysError()));
}

} // namespace qn
