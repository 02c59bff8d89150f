#include "mounts.h"

#include <QDir>
#include <QFile>

namespace qn::mounts {
namespace {

// Mount points escape space, tab, newline and backslash as octal.
QString unescape(const QString& s) {
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == u'\\' && i + 3 < s.size() && s.mid(i + 1, 3).toInt(nullptr, 8) > 0) {
            out += QChar(s.mid(i + 1, 3).toInt(nullptr, 8));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool contains(const QString& folder, const QString& point) {
    return point == u'/' || folder == point || folder.startsWith(point + u'/');
}

} // namespace

std::optional<Mount> parseLine(const QString& line) {
    const QStringList f = line.split(u' ', Qt::SkipEmptyParts);
    const qsizetype dash = f.indexOf(QStringLiteral("-"));
    if (dash < 6 || dash + 3 >= f.size())
        return std::nullopt;
    Mount m;
    m.point = unescape(f[4]);
    m.type = f[dash + 1];
    m.options = f[5].split(u',') + f[dash + 3].split(u',');
    return m;
}

QString unsafeOption(const Mount& m) {
    const bool cifs = m.type == u"cifs" || m.type == u"smb3" || m.type == u"smbfs";
    const bool nfs = m.type == u"nfs" || m.type == u"nfs4";
    for (const QString& o : m.options) {
        if (cifs && (o == u"nobrl" || o == u"nolock" || o == u"cache=loose"))
            return o;
        // local_lock=flock keeps only flock() local; the engine locks with fcntl.
        if (nfs && (o == u"nolock" || o == u"local_lock=posix" || o == u"local_lock=all"))
            return o;
    }
    return {};
}

QString refusal(const QString& folder, const QString& mountinfo) {
    const QString dir = QDir::cleanPath(folder);
    std::optional<Mount> best;
    for (const QString& line : mountinfo.split(u'\n', Qt::SkipEmptyParts)) {
        std::optional<Mount> m = parseLine(line);
        if (m && contains(dir, m->point) && (!best || m->point.size() >= best->point.size()))
            best = m;
    }
    if (!best)
        return {};
    const QString option = unsafeOption(*best);
    if (option.isEmpty())
        return {};
    const bool cache = option.startsWith(u"cache=");
    const bool cifs = best->type != u"nfs" && best->type != u"nfs4";
    return QStringLiteral(
               "The tables in %1 cannot be changed: that network drive (%2) is mounted with "
               "the option \"%3\", which %4, so two administrators could overwrite each "
               "other's changes. Mount it %5. The tables can still be read.")
        .arg(QDir::toNativeSeparators(dir), best->point, option,
             cache ? QStringLiteral("keeps file contents cached without noticing changes "
                                    "made on other computers")
                   : QStringLiteral("keeps file locks on this computer instead of sharing "
                                    "them through the server"),
             cifs ? QStringLiteral("without \"nobrl\" and with \"cache=strict\" (the default)")
                  : QStringLiteral("with locking (without \"nolock\", with "
                                   "\"local_lock=none\")"));
}

QString refusal(const QString& folder) {
    QFile f(QStringLiteral("/proc/self/mountinfo"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return refusal(QDir(folder).canonicalPath().isEmpty() ? folder : QDir(folder).canonicalPath(),
                   QString::fromLocal8Bit(f.readAll()));
}

} // namespace qn::mounts
