// LD_PRELOAD shim that makes chosen file calls slow, as a network round trip does, and counts
// the file calls a process makes on chosen files. Used by the multi-process tests (races that
// need a slow call to show) and by the benchmark of calls per operation.
//
//   QNSLOW_CALLS  comma list of fstat, stat, pread (and preadv, read), pwrite (and pwritev,
//                 write), fcntl (lock commands only), sync,
//                 open, or all; default none (count only)
//   QNSLOW_US     microseconds per delayed call: "500", or a range "0-2000" drawn per call
//   QNSLOW_MATCH  comma list of texts; only files whose path contains one of them (any letter
//                 case) are delayed and counted; default ".dbf,.mdx"
//   QNSLOW_TELL   1: write "qnslow: <call>\n" to stderr as each delay starts
//
// Each delay follows the real call: its answer is already old when the caller sees it. The
// counts are read in-process through qnslow_counts() (found with dlsym).
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

enum Kind { kOpen, kClose, kStat, kFstat, kRead, kWrite, kLock, kSync, kTruncate, kStatfs, kKinds };
const char* const kNames[kKinds] = {"open",  "close", "stat", "fstat",    "read",
                                    "write", "lock",  "sync", "truncate", "statfs"};

struct Config {
    bool delay[kKinds] = {};
    long minUs = 0, maxUs = 0;
    bool tell = false;
    std::vector<std::string> match;
};

Config& config() {
    static Config c = [] {
        Config r;
        auto env = [](const char* n) { return std::string(std::getenv(n) ? std::getenv(n) : ""); };
        auto split = [](const std::string& s) {
            std::vector<std::string> out;
            for (size_t from = 0, comma; from <= s.size(); from = comma + 1)
                if ((comma = std::min(s.find(',', from), s.size())) > from)
                    out.push_back(s.substr(from, comma - from));
            return out;
        };
        const std::pair<const char*, Kind> calls[] = {
            {"open", kOpen},    {"stat", kStat},  {"fstat", kFstat}, {"pread", kRead},
            {"pwrite", kWrite}, {"fcntl", kLock}, {"sync", kSync}};
        for (const std::string& name : split(env("QNSLOW_CALLS")))
            for (auto [call, kind] : calls)
                r.delay[kind] |= name == "all" || name == call;
        const std::string us = env("QNSLOW_US");
        r.minUs = r.maxUs = us.empty() ? 500 : std::atol(us.c_str());
        if (size_t dash = us.find('-'); dash != std::string::npos && dash > 0)
            r.maxUs = std::atol(us.c_str() + dash + 1);
        r.tell = env("QNSLOW_TELL") == "1";
        r.match = split(std::getenv("QNSLOW_MATCH") ? env("QNSLOW_MATCH") : ".dbf,.mdx");
        for (auto& s : r.match)
            for (char& ch : s)
                ch = char(std::tolower(static_cast<unsigned char>(ch)));
        return r;
    }();
    return c;
}

std::atomic<unsigned long> g_counts[kKinds];
constexpr int kMaxFd = 4096;
std::atomic<bool> g_tracked[kMaxFd];

bool matches(const char* path) {
    if (!path)
        return false;
    std::string p(path);
    for (char& ch : p)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    for (const std::string& m : config().match)
        if (p.find(m) != std::string::npos)
            return true;
    return false;
}

bool tracked(int fd) {
    return fd >= 0 && fd < kMaxFd && g_tracked[fd].load(std::memory_order_relaxed);
}

void pause(Kind k) {
    const Config& c = config();
    if (!c.delay[k])
        return;
    long us = c.minUs;
    if (c.maxUs > c.minUs) {
        thread_local unsigned long state = (unsigned long)getpid() * 2654435761UL + 1;
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        us += long(state % (unsigned long)(c.maxUs - c.minUs + 1));
    }
    if (c.tell) {
        char line[64];
        int n = std::snprintf(line, sizeof line, "qnslow: %s\n", kNames[k]);
        if (::write(2, line, size_t(n)) < 0) {
        }
    }
    if (us <= 0)
        return;
    timespec ts{us / 1000000, (us % 1000000) * 1000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// Runs the real call, then the delay, keeping errno.
template <class F> auto around(Kind k, bool counted, F&& call) {
    auto r = call();
    if (counted) {
        g_counts[k].fetch_add(1, std::memory_order_relaxed);
        const int saved = errno;
        pause(k);
        errno = saved;
    }
    return r;
}

template <class T> T real(const char* name) {
    return reinterpret_cast<T>(dlsym(RTLD_NEXT, name));
}

void track(int fd, const char* path) {
    if (fd >= 0 && fd < kMaxFd)
        g_tracked[fd].store(matches(path), std::memory_order_relaxed);
}

bool isLockCommand(int cmd) {
    return cmd == F_SETLK || cmd == F_SETLKW || cmd == F_GETLK || cmd == F_OFD_SETLK ||
           cmd == F_OFD_SETLKW || cmd == F_OFD_GETLK;
}

// Every open goes to the C library's openat (open(p) is openat(AT_FDCWD, p)).
int openCommon(int dirfd, const char* path, int flags, mode_t mode) {
    static auto fn = real<int (*)(int, const char*, int, ...)>("openat");
    const int fd = around(kOpen, matches(path), [&] { return fn(dirfd, path, flags, mode); });
    track(fd, path);
    return fd;
}

mode_t modeArg(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & __O_TMPFILE) == __O_TMPFILE ? mode_t(va_arg(ap, int)) : 0;
}

// A path call on an empty path with AT_EMPTY_PATH is a call on the descriptor.
template <class F> int atCall(int dirfd, const char* path, int flags, F&& call) {
    const bool byFd = (flags & AT_EMPTY_PATH) && path && !*path;
    return around(byFd ? kFstat : kStat, byFd ? tracked(dirfd) : matches(path), call);
}

} // namespace

extern "C" {

// Copies up to n counts (in the order open, close, stat, fstat, read, write, lock, sync,
// truncate, statfs) and returns how many kinds there are.
__attribute__((visibility("default"))) int qnslow_counts(unsigned long* out, int n) {
    for (int k = 0; k < kKinds && k < n; ++k)
        out[k] = g_counts[k].load();
    return kKinds;
}

// The parameters before path (with their comma), if any, are the last arguments.
#define QNSLOW_OPEN(fn, dirfd, ...)                                                                \
    int fn(__VA_ARGS__ const char* path, int flags, ...) {                                         \
        va_list ap;                                                                                \
        va_start(ap, flags);                                                                       \
        const mode_t mode = modeArg(flags, ap);                                                    \
        va_end(ap);                                                                                \
        return openCommon(dirfd, path, flags, mode);                                               \
    }
QNSLOW_OPEN(open, AT_FDCWD)
QNSLOW_OPEN(open64, AT_FDCWD)
QNSLOW_OPEN(openat, dirfd, int dirfd, )
QNSLOW_OPEN(openat64, dirfd, int dirfd, )

int close(int fd) {
    const bool counted = tracked(fd);
    if (fd >= 0 && fd < kMaxFd)
        g_tracked[fd].store(false, std::memory_order_relaxed);
    static auto fn = real<int (*)(int)>("close");
    return around(kClose, counted, [&] { return fn(fd); });
}

#define QNSLOW_RW(fn, Buf, kind)                                                                   \
    ssize_t fn(int fd, Buf buf, size_t n, off_t off) {                                             \
        static auto f = real<ssize_t (*)(int, Buf, size_t, off_t)>(#fn);                           \
        return around(kind, tracked(fd), [&] { return f(fd, buf, n, off); });                      \
    }
QNSLOW_RW(pread, void*, kRead)
QNSLOW_RW(pread64, void*, kRead)
QNSLOW_RW(pwrite, const void*, kWrite)
QNSLOW_RW(pwrite64, const void*, kWrite)

#define QNSLOW_RWV(fn, kind)                                                                       \
    ssize_t fn(int fd, const struct iovec* iov, int n, off_t off) {                                \
        static auto f = real<ssize_t (*)(int, const struct iovec*, int, off_t)>(#fn);              \
        return around(kind, tracked(fd), [&] { return f(fd, iov, n, off); });                      \
    }
QNSLOW_RWV(preadv, kRead)
QNSLOW_RWV(preadv64, kRead)
QNSLOW_RWV(pwritev, kWrite)
QNSLOW_RWV(pwritev64, kWrite)

ssize_t read(int fd, void* buf, size_t n) {
    static auto f = real<ssize_t (*)(int, void*, size_t)>("read");
    return around(kRead, tracked(fd), [&] { return f(fd, buf, n); });
}
ssize_t write(int fd, const void* buf, size_t n) {
    static auto f = real<ssize_t (*)(int, const void*, size_t)>("write");
    return around(kWrite, tracked(fd), [&] { return f(fd, buf, n); });
}

#define QNSLOW_FSTAT(fn, St)                                                                       \
    int fn(int fd, St* st) {                                                                       \
        static auto f = real<int (*)(int, St*)>(#fn);                                              \
        return around(kFstat, tracked(fd), [&] { return f(fd, st); });                             \
    }
QNSLOW_FSTAT(fstat, struct stat)
QNSLOW_FSTAT(fstat64, struct stat64)

#define QNSLOW_STAT(fn, St)                                                                        \
    int fn(const char* path, St* st) {                                                             \
        static auto f = real<int (*)(const char*, St*)>(#fn);                                      \
        return around(kStat, matches(path), [&] { return f(path, st); });                          \
    }
QNSLOW_STAT(stat, struct stat)
QNSLOW_STAT(stat64, struct stat64)
QNSLOW_STAT(lstat, struct stat)
QNSLOW_STAT(lstat64, struct stat64)

int statx(int dirfd, const char* path, int flags, unsigned mask, struct statx* st) {
    static auto f = real<int (*)(int, const char*, int, unsigned, struct statx*)>("statx");
    return atCall(dirfd, path, flags, [&] { return f(dirfd, path, flags, mask, st); });
}
int fstatat(int dirfd, const char* path, struct stat* st, int flags) {
    static auto f = real<int (*)(int, const char*, struct stat*, int)>("fstatat");
    return atCall(dirfd, path, flags, [&] { return f(dirfd, path, st, flags); });
}

int access(const char* path, int mode) {
    static auto f = real<int (*)(const char*, int)>("access");
    return around(kStat, matches(path), [&] { return f(path, mode); });
}

int fstatfs(int fd, struct statfs* st) {
    static auto f = real<int (*)(int, struct statfs*)>("fstatfs");
    return around(kStatfs, tracked(fd), [&] { return f(fd, st); });
}

#define QNSLOW_SYNC(fn)                                                                            \
    int fn(int fd) {                                                                               \
        static auto f = real<int (*)(int)>(#fn);                                                   \
        return around(kSync, tracked(fd), [&] { return f(fd); });                                  \
    }
QNSLOW_SYNC(fsync)
QNSLOW_SYNC(fdatasync)

#define QNSLOW_TRUNCATE(fn)                                                                        \
    int fn(int fd, off_t len) {                                                                    \
        static auto f = real<int (*)(int, off_t)>(#fn);                                            \
        return around(kTruncate, tracked(fd), [&] { return f(fd, len); });                         \
    }
QNSLOW_TRUNCATE(ftruncate)
QNSLOW_TRUNCATE(ftruncate64)

#define QNSLOW_FCNTL(fn)                                                                           \
    int fn(int fd, int cmd, ...) {                                                                 \
        static auto f = real<int (*)(int, int, ...)>(#fn);                                         \
        va_list ap;                                                                                \
        va_start(ap, cmd);                                                                         \
        void* arg = va_arg(ap, void*);                                                             \
        va_end(ap);                                                                                \
        return around(kLock, isLockCommand(cmd) && tracked(fd), [&] { return f(fd, cmd, arg); });  \
    }
QNSLOW_FCNTL(fcntl)
QNSLOW_FCNTL(fcntl64)

} // extern "C"
