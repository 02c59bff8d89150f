#include "items.h"

#include "datamodule.h"
#include "error.h"
#include "session.h"
#include "table.h"

namespace qn::pool {

void addResource(Table& pool, const Resource& r) {
    struct Box {
        QString field;
        QString value;
        QString label;
    };
    const Box boxes[] = {
        {QStringLiteral("MAIN"), r.main, QStringLiteral("Main")},
        {QStringLiteral("CATEGORY"), r.category, QStringLiteral("Category")},
        {QStringLiteral("ITEM"), r.item, QStringLiteral("Item")},
        {QStringLiteral("SERIAL"), r.serial, QStringLiteral("Serial No.")},
        {QStringLiteral("PART"), r.part, QStringLiteral("Part No.")},
        {QStringLiteral("MDL_LIC"), r.model, QStringLiteral("Model No.")},
        {QStringLiteral("MANUF"), r.manufacturer, QStringLiteral("Manufacturer")},
    };
    for (const Box& b : boxes)
        if (b.value.size() > pool.fieldWidth(b.field))
            throw Error(QStringLiteral("%1 holds at most %2 characters; \"%3\" has %4. The "
                                       "resource was not added.")
                            .arg(b.label)
                            .arg(pool.fieldWidth(b.field))
                            .arg(b.value)
                            .arg(b.value.size()));
    pool.append();
    try {
        for (const Box& b : boxes)
            pool.setFieldText(b.field, b.value);
        pool.post();
    } catch (...) {
        pool.cancel();
        throw;
    }
}

QStringList fieldValues(DataModule& dm, const QString& field) {
    const TableSession pool(dm, dm.ResourceTable, &DataModule::ResourceTableOpenClose, field);
    // The tag brings equal values together, so comparing with the last one kept suffices.
    QStringList values;
    for (pool->first(); !pool->eof(); pool->next()) {
        const QString value = pool->fieldText(field);
        if (!value.isEmpty() && (values.isEmpty() || value != values.last()))
            values << value;
    }
    return values;
}

QStringList systemIds(DataModule& dm) {
    const TableSession systems(dm, dm.SysTable, &DataModule::SysTableOpenClose,
                               QStringLiteral("SysID"), TableSession::Mode::Borrow);
    QStringList ids;
    for (systems->first(); !systems->eof(); systems->next())
        ids << systems->fieldText(QStringLiteral("SYSID"));
    return ids;
}

void giveToSystem(DataModule& dm, Table& pool, Kind kind, const QString& sysId) {
    const bool hardware = kind == Kind::Hardware;
    const TableSession items(dm, hardware ? dm.HWTable : dm.SWTable,
                             hardware ? &DataModule::HWTableOpenClose
                                      : &DataModule::SWTableOpenClose,
                             QString(), TableSession::Mode::Borrow);
    items->append();
    try {
        fillItem(pool, *items, kind, sysId);
        items->post();
    } catch (...) {
        items->cancel();
        throw; // the resource stays in the pool
    }
    try {
        pool.remove();
    } catch (...) {
        items->remove(); // not in two places at once
        throw;
    }
}

void fillPoolRow(const Table& items, Table& pool, Kind kind) {
    const bool hardware = kind == Kind::Hardware;
    pool.setFieldText(QStringLiteral("MAIN"),
                      hardware ? QStringLiteral("HARDWARE") : QStringLiteral("SOFTWARE"));
    pool.setFieldText(QStringLiteral("CATEGORY"), items.fieldText(QStringLiteral("CATEGORY")));
    pool.setFieldText(QStringLiteral("ITEM"), items.fieldText(QStringLiteral("DESC")));
    pool.setFieldText(
        QStringLiteral("MDL_LIC"),
        items.fieldText(hardware ? QStringLiteral("MODEL") : QStringLiteral("LICENSEKEY")));
    pool.setFieldText(QStringLiteral("SERIAL"), items.fieldText(QStringLiteral("SERIALNUM")));
    pool.setFieldText(QStringLiteral("PART"), items.fieldText(QStringLiteral("PART")));
    pool.setFieldText(QStringLiteral("MANUF"), items.fieldText(QStringLiteral("MANUF")));
}

void returnToPool(DataModule& dm, const Table& items, Kind kind) {
    const TableSession pool(dm, dm.ResourceTable, &DataModule::ResourceTableOpenClose, QString());
    pool->append();
    try {
        fillPoolRow(items, *pool, kind);
        pool->post();
    } catch (...) {
        pool->cancel();
        throw; // the item stays where it is
    }
}

} // namespace qn::pool
