#include "newcomputers.h"

#include "datamodule.h"
#include "error.h"
#include "table.h"
#include "tablelock.h"

#include <QDateTime>
#include <memory>

namespace qn::discovery {

Octets Octets::split(const QString& address) {
    Octets o;
    QString* parts[] = {&o.ip1, &o.ip2, &o.ip3};
    qsizetype from = 0;
    for (QString* part : parts) {
        const qsizetype dot = address.indexOf(u'.', from);
        if (dot < 0) {
            *part = address.mid(from);
            return o;
        }
        *part = address.mid(from, dot - from);
        from = dot + 1;
    }
    o.ip4 = address.mid(from);
    return o;
}

namespace {

// Appends one row through fill and posts it; on an error the half-written row is dropped so
// that no later move posts it, and the table is closed.
template <typename OpenClose, typename Fill>
void appendRow(Table& table, OpenClose openClose, Fill fill) {
    openClose(true);
    try {
        table.append();
        fill(table);
        table.post();
    } catch (...) {
        if (table.state() == Table::State::Insert)
            table.cancel();
        openClose(false);
        throw;
    }
    openClose(false);
}

// A table of its own over a module table's file, so that a group holds the file while the
// module's table is opened and closed inside.
std::unique_ptr<Table> holder(DataModule& data, const Table& shared) {
    auto t = std::make_unique<Table>(data.engine());
    t->setDatabaseName(shared.databaseName());
    t->setTableName(shared.tableName());
    t->open();
    return t;
}

} // namespace

void addNewComputers(DataModule& data, NewComputers& computers,
                     const std::function<QString(const WriteRows& write)>& record) {
    // Every computer's rows in one group per table: they reach the files together, in a few
    // calls for the lot. The computers recorded before an error stay recorded, as they would
    // one by one.
    const auto sysFile = holder(data, *data.SysTable), ipFile = holder(data, *data.IPTable);
    TableGroup sysGroup(*sysFile);
    TableGroup ipGroup(*ipFile);
    auto ipOpenClose = [&](bool open) { data.IPTableOpenClose(QString(), QString(), false, open); };
    auto sysOpenClose = [&](bool open) {
        data.SysTableOpenClose(QString(), QString(), false, open);
    };
    auto commit = [&] {
        sysGroup.commit(); // the systems before the addresses that name them
        ipGroup.commit();
    };
    try {
        for (qsizetype k = 0; k < computers.size(); ++k) {
            const Octets octets = Octets::split(computers.addresses.at(k));
            const QString& name = computers.names.at(k);
            record([&](const QString& sysId) {
                appendRow(*data.IPTable, ipOpenClose, [&](Table& ip) {
                    ip.setFieldText(QStringLiteral("SYSID"), sysId);
                    ip.setFieldText(QStringLiteral("IP1"), octets.ip1);
                    ip.setFieldText(QStringLiteral("IP2"), octets.ip2);
                    ip.setFieldText(QStringLiteral("IP3"), octets.ip3);
                    ip.setFieldText(QStringLiteral("IP4"), octets.ip4);
                    ip.setFieldText(QStringLiteral("COMPUTER"), name);
                    ip.setFieldText(QStringLiteral("IPSTRING"), octets.key());
                });
                appendRow(*data.SysTable, sysOpenClose, [&](Table& sys) {
                    sys.setFieldText(QStringLiteral("SYSID"), sysId);
                    sys.setFieldDateTime(QStringLiteral("DATE"), QDateTime::currentDateTime());
                });
            });
        }
    } catch (...) {
        try {
            commit();
        } catch (const StoreError&) {
            // A write of the group itself failed: nothing was written, and the error that
            // stopped the loop says why.
        }
        throw;
    }
    commit();
    computers.clear();
}

void addNewComputers(DataModule& data, NewComputers& computers,
                     const std::function<QString()>& allocate) {
    addNewComputers(data, computers, [&](const WriteRows& write) {
        const QString id = allocate();
        write(id);
        return id;
    });
}

} // namespace qn::discovery
