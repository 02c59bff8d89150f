#pragma once

#include "listingrunner.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

namespace qn::discovery {

/// One host that was up in an nmap scan.
struct ScannedHost {
    /// The computer name: the first label of the first host name nmap gives (the target as typed,
    /// else the reverse-DNS name), "pc1" of "pc1.office.lan". Empty when the host has no name:
    /// such a host cannot be recorded.
    QString name;
    QString address; ///< IPv4, dotted decimal; empty when the scan gave none
    QString ipv6;    ///< the host's IPv6 address, if any

    bool operator==(const ScannedHost&) const = default;
};

/// Reads the XML that `nmap -oX` writes (QXmlStreamReader). Hosts that are down are left out; MAC
/// addresses are ignored.
class NmapScan {
public:
    /// The computer name a DNS name gives: its text up to the first dot.
    static QString computerName(const QString& dnsName);
    /// The hosts that were up, in scan order. Throws qn::Error, naming source, when the text is
    /// not a complete nmap scan or nmap reports that it failed.
    static QList<ScannedHost> parse(const QByteArray& xml, const QString& source);
    static QList<ScannedHost> readFile(const QString& path);
};

/// An nmap scan as Auto-Find's source: either runs `nmap -sn -oX` over the targets given and reads
/// what it wrote, or reads a saved scan. finished() gives the named hosts, each with its address;
/// the others are kept in unnamed().
class NmapSource : public DiscoverySource {
    Q_OBJECT
public:
    /// The scan is written into workingFolder. Without a runner a QProcessRunner is used.
    explicit NmapSource(const QString& workingFolder,
                        std::unique_ptr<ProcessRunner> runner = nullptr, QObject* parent = nullptr);
    ~NmapSource() override;

    static QString scanName() { return QStringLiteral("nmap-scan.xml"); }
    QString scanPath() const;

    /// The targets of a typed line, separated by blanks. Throws qn::Error when there are none or
    /// one would be taken for an option.
    static QStringList targetList(const QString& line);
    /// Scans these targets on the next start().
    void setTargets(const QStringList& targets);
    /// Reads this saved scan on the next start() instead.
    void setFile(const QString& path);

    bool start() override;
    bool isRunning() const override { return m_running; }
    void cancel() override;

    /// The hosts of the last scan read that were up but had no name: their IPv4 address, else
    /// their IPv6 one.
    const QStringList& unnamed() const { return m_unnamed; }

private:
    void scanEnded(int exitCode);
    void read(const QString& path);

    QString m_workingFolder;
    std::unique_ptr<ProcessRunner> m_runner;
    QStringList m_targets;
    QString m_file;
    QStringList m_unnamed;
    bool m_running = false;
    bool m_scanning = false;
    unsigned m_generation = 0;
};

} // namespace qn::discovery
