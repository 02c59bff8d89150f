#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace qn {
class DataModule;
}

namespace qn::discovery {

/// Computers found on the network and not in the inventory: names and their dotted-decimal
/// addresses, entry k of one belonging to entry k of the other.
struct NewComputers {
    QStringList names;
    QStringList addresses;

    void append(const QString& name, const QString& address) {
        names.append(name);
        addresses.append(address);
    }
    void clear() {
        names.clear();
        addresses.clear();
    }
    bool isEmpty() const { return names.isEmpty(); }
    qsizetype size() const { return names.size(); }
};

/// The four octet texts of a dotted address as IP.DBF stores them, and the address key.
struct Octets {
    QString ip1, ip2, ip3, ip4;

    /// Text before the first dot, between the first and second, between the second and third,
    /// and the rest; parts beyond a missing dot are empty.
    static Octets split(const QString& address);
    QString key() const { return ip1 + ip2 + ip3 + ip4; }
};

/// Records every computer as a new system: for each, in list order, a System ID from allocate
/// (called once per computer, after the previous computer's rows are posted), one IP.DBF row
/// (SYSID, IP1..IP4, COMPUTER, IPSTRING) and one SYSTEMS.DBF row (SYSID, DATE = now). Empties
/// the lists when all are recorded; an error (qn::Error) stops at that computer, leaving the
/// ones before recorded and the lists as they were.
void addNewComputers(DataModule& data, NewComputers& computers,
                     const std::function<QString()>& allocate);

/// Writes one computer's rows under the ID it is given.
using WriteRows = std::function<void(const QString& sysId)>;
/// As above, with the ID chosen by record, which calls write once with it and returns it:
/// the windows pass a function that allocates and writes under the systems table's lock.
void addNewComputers(DataModule& data, NewComputers& computers,
                     const std::function<QString(const WriteRows& write)>& record);

} // namespace qn::discovery
