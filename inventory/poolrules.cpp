#include "poolrules.h"

#include "datamodule.h"
#include "table.h"

namespace qn::pool {

QStringList mainKinds() {
    return {QStringLiteral("HARDWARE"), QStringLiteral("SOFTWARE")};
}

QStringList subCategories() {
    return {QStringLiteral("CDROM"),
            QStringLiteral("CD-RW"),
            QStringLiteral("CPU"),
            QStringLiteral("FLOPPY DRIVE"),
            QStringLiteral("HARDDRIVE"),
            QStringLiteral("KEYBOARD"),
            QStringLiteral("MODEM"),
            QStringLiteral("MOTHERBOARD"),
            QStringLiteral("MOUSE"),
            QStringLiteral("O/S"),
            QStringLiteral("OFFICE SUITE"),
            QStringLiteral("OTHER..."),
            QStringLiteral("SOUND CARD"),
            QStringLiteral("SPEAKERS"),
            QStringLiteral("SYSTEM UTILITY"),
            QStringLiteral("TAPE DRIVE"),
            QStringLiteral("VIDEO CARD"),
            QStringLiteral("ZIP DRIVE")};
}

static QString sortKey(const QString& s) {
    QString k = s.toUpper();
    k.remove(u'-');
    k.remove(u'\'');
    return k;
}

bool listsBefore(const QString& a, const QString& b) {
    const int c = QString::compare(sortKey(a), sortKey(b));
    return c != 0 ? c < 0 : a < b;
}

Kind kindOf(const QString& main) {
    if (main == QLatin1String("HARDWARE"))
        return Kind::Hardware;
    if (main == QLatin1String("SOFTWARE"))
        return Kind::Software;
    return Kind::Neither;
}

void fillItem(const Table& pool, Table& items, Kind kind, const QString& sysId) {
    items.setFieldText(QStringLiteral("SYSID"), sysId);
    items.setFieldText(QStringLiteral("DESC"), pool.fieldText(QStringLiteral("ITEM")));
    items.setFieldText(kind == Kind::Hardware ? QStringLiteral("MODEL")
                                              : QStringLiteral("LICENSEKEY"),
                       pool.fieldText(QStringLiteral("MDL_LIC")));
    items.setFieldText(QStringLiteral("SERIALNUM"), pool.fieldText(QStringLiteral("SERIAL")));
    items.setFieldText(QStringLiteral("PART"), pool.fieldText(QStringLiteral("PART")));
    items.setFieldText(QStringLiteral("MANUF"), pool.fieldText(QStringLiteral("MANUF")));
    items.setFieldText(QStringLiteral("CATEGORY"), pool.fieldText(QStringLiteral("CATEGORY")));
}

} // namespace qn::pool
