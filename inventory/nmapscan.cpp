#include "nmapscan.h"

#include "error.h"
#include "listing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTimer>
#include <QXmlStreamReader>

namespace qn::discovery {

namespace {

QString attribute(const QXmlStreamReader& xml, const char* name) {
    return xml.attributes().value(QLatin1String(name)).toString();
}

// One <host> element, the reader on its start tag; returns whether the host was up.
bool readHost(QXmlStreamReader& xml, ScannedHost& host) {
    bool up = false;
    QString dnsName;
    while (xml.readNextStartElement()) {
        const auto tag = xml.name();
        if (tag == QLatin1String("status")) {
            up = attribute(xml, "state") == QLatin1String("up");
            xml.skipCurrentElement();
        } else if (tag == QLatin1String("address")) {
            const QString type = attribute(xml, "addrtype");
            // Taken only as a well-formed address, so that a hand-edited file cannot carry text
            // into the address fields.
            const QHostAddress a(attribute(xml, "addr"));
            if (type == QLatin1String("ipv4") && a.protocol() == QAbstractSocket::IPv4Protocol &&
                host.address.isEmpty())
                host.address = a.toString();
            else if (type == QLatin1String("ipv6") &&
                     a.protocol() == QAbstractSocket::IPv6Protocol && host.ipv6.isEmpty())
                host.ipv6 = a.toString();
            xml.skipCurrentElement();
        } else if (tag == QLatin1String("hostnames")) {
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("hostname") && dnsName.isEmpty())
                    dnsName = attribute(xml, "name");
                xml.skipCurrentElement();
            }
        } else {
            xml.skipCurrentElement();
        }
    }
    host.name = NmapScan::computerName(dnsName);
    return up;
}

} // namespace

QString NmapScan::computerName(const QString& dnsName) {
    return dnsName.section(u'.', 0, 0).trimmed();
}

QList<ScannedHost> NmapScan::parse(const QByteArray& bytes, const QString& source) {
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("nmaprun"))
        throw Error(QStringLiteral("%1 is not an nmap XML scan.").arg(source));
    QList<ScannedHost> hosts;
    QString nmapError;
    // <host> elements are taken at any depth: the layout around them varies between versions.
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("host")) {
            ScannedHost host;
            if (readHost(xml, host))
                hosts.append(host);
        } else if (xml.name() == QLatin1String("finished") &&
                   attribute(xml, "exit") == QLatin1String("error")) {
            nmapError = attribute(xml, "errormsg");
        }
    }
    if (xml.hasError())
        throw Error(QStringLiteral("%1 is damaged or incomplete (line %2: %3). Nothing was read "
                                   "from it.")
                        .arg(source)
                        .arg(xml.lineNumber())
                        .arg(xml.errorString()));
    if (!nmapError.isNull())
        throw Error(QStringLiteral("nmap reports that its scan failed: %1").arg(nmapError));
    return hosts;
}

QList<ScannedHost> NmapScan::readFile(const QString& path) {
    return parse(Listing::readBytes(path), QDir::toNativeSeparators(path));
}

NmapSource::NmapSource(const QString& workingFolder, std::unique_ptr<ProcessRunner> runner,
                       QObject* parent)
    : DiscoverySource(parent), m_workingFolder(workingFolder), m_runner(std::move(runner)) {
    if (!m_runner)
        m_runner = std::make_unique<QProcessRunner>();
    connect(m_runner.get(), &ProcessRunner::finished, this, &NmapSource::scanEnded);
}

NmapSource::~NmapSource() = default;

QString NmapSource::scanPath() const {
    return QDir(m_workingFolder).filePath(scanName());
}

QStringList NmapSource::targetList(const QString& line) {
    const QStringList targets =
        line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (targets.isEmpty())
        throw Error(QStringLiteral("Type the addresses or networks for nmap to scan, for "
                                   "example 192.168.1.0/24."));
    for (const QString& t : targets)
        if (t.startsWith(u'-'))
            throw Error(QStringLiteral("\"%1\" is not an address or network: nmap would take it "
                                       "for an option.")
                            .arg(t));
    return targets;
}

void NmapSource::setTargets(const QStringList& targets) {
    m_targets = targets;
    m_file.clear();
}

void NmapSource::setFile(const QString& path) {
    m_file = path;
    m_targets.clear();
}

bool NmapSource::start() {
    if (m_running)
        return false;
    m_running = true;
    m_unnamed.clear();
    if (!m_file.isEmpty()) {
        // From the event loop, as after a scan: the caller has finished starting the run.
        QTimer::singleShot(0, this, [this, path = m_file, run = ++m_generation] {
            if (m_running && run == m_generation)
                read(path);
        });
        return true;
    }
    // A scan that fails to write must not leave the last one to be read.
    QFile::remove(scanPath());
    m_scanning = true;
    m_runner->start(QStringLiteral("nmap"),
                    QStringList{QStringLiteral("-sn"), QStringLiteral("-oX"), scanPath()} +
                        m_targets,
                    m_workingFolder);
    return true;
}

void NmapSource::cancel() {
    if (!m_running)
        return;
    m_running = false;
    ++m_generation;
    if (m_scanning) {
        m_scanning = false;
        m_runner->stop();
    }
}

void NmapSource::scanEnded(int exitCode) {
    if (!m_scanning)
        return;
    m_scanning = false;
    if (exitCode == -1 && !QFileInfo::exists(scanPath())) {
        m_running = false;
        emit failed(QStringLiteral("nmap could not be started. Is it installed (package "
                                   "nmap)?"));
        return;
    }
    read(scanPath());
}

void NmapSource::read(const QString& path) {
    m_running = false;
    QList<ScannedHost> hosts;
    try {
        hosts = NmapScan::readFile(path);
    } catch (const Error& e) {
        emit failed(e.message());
        return;
    }
    QStringList names, addresses;
    for (const ScannedHost& h : hosts) {
        if (h.name.isEmpty()) {
            m_unnamed << (h.address.isEmpty() ? h.ipv6 : h.address);
            continue;
        }
        names << h.name;
        addresses << h.address;
    }
    emit finished(names, addresses);
}

} // namespace qn::discovery
