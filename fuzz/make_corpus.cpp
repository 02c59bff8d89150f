// Writes the starting corpus under fuzz/corpus/: small valid tables and indexes, and a few broken
// variants of them. Run by hand when the formats change: make_corpus <fuzz/corpus>
#include "dbffile.h"
#include "error.h"
#include "fuzzutil.h"
#include "mdxfile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using fuzz::readAll;
using fuzz::writeAll;

void tables(const QString& dir) {
    const std::vector<qn::FieldDef> fields = {
        {"NAME", 'C', 8, 0}, {"QTY", 'N', 6, 2}, {"WHEN", 'D', 8, 0}, {"OK", 'L', 1, 0}};
    const QString path = dir + QStringLiteral("/valid.dbf");
    qn::DbfFile::create(path, fields, true, {"NAME"});
    qn::DbfFile dbf;
    dbf.open(path, true);
    const char* rows[] = {" alpha    12.5020260101T", "*deleted  -1.00        F",
                          " zeta    999.9919991231?"};
    for (const char* r : rows)
        dbf.appendRecord(r);
    dbf.close();
    const QByteArray good = readAll(path);
    writeAll(dir + QStringLiteral("/empty.dbf"), good.left(32 + 32 * 4 + 1));
    writeAll(dir + QStringLiteral("/truncated.dbf"), good.left(good.size() - 20));
    QByteArray longCount = good;
    longCount[4] = char(0x7F); // the header claims more rows than the file holds
    writeAll(dir + QStringLiteral("/count.dbf"), longCount);
    QByteArray badLength = good;
    badLength[8] = char(0xFF); // header length past the end
    badLength[9] = char(0x7F);
    writeAll(dir + QStringLiteral("/hdrlen.dbf"), badLength);
    QByteArray badType = good;
    badType[32 + 11] = 'M';
    writeAll(dir + QStringLiteral("/type.dbf"), badType);
}

void indexes(const QString& dir) {
    const qn::TagSpec name{"NAME", "UPPER(NAME)", "", 'C', 8, false, false};
    const qn::TagSpec when{"WHEN", "WHEN", "", 'D', 8, false, true};
    const QString small = dir + QStringLiteral("/small.mdx");
    qn::MdxFile::create(small, "VALID", {name, when});
    {
        qn::MdxFile mdx;
        mdx.open(small, true);
        mdx.tag(0).insert("ALPHA   ", 1);
        mdx.tag(0).insert("ZETA    ", 3);
        mdx.tag(1).insert("20260101", 1);
        mdx.flush();
    }
    // One tag deep enough for interior nodes.
    const QString deep = dir + QStringLiteral("/deep.mdx");
    qn::MdxFile::create(deep, "VALID", {name});
    {
        qn::MdxFile mdx;
        mdx.open(deep, true);
        for (uint32_t i = 1; i <= 150; ++i) {
            char key[16];
            std::snprintf(key, sizeof key, "K%07u", (i * 37u) % 1000u);
            mdx.tag(0).insert(key, i);
        }
        mdx.flush();
    }
    const QByteArray good = readAll(small);
    writeAll(dir + QStringLiteral("/short.mdx"), good.left(2048));
    QByteArray badRoot = good;
    badRoot[4 * 512] = char(0x7F); // first tag's root page outside the file
    writeAll(dir + QStringLiteral("/root.mdx"), badRoot);
    QByteArray badKeys = readAll(deep);
    badKeys[6 * 512] = char(0xFF); // root node claims too many keys
    writeAll(dir + QStringLiteral("/keys.mdx"), badKeys);
}

void expressions(const QString& dir) {
    const char* texts[] = {"SYSID",
                           "UPPER(COMPUTER)+SYSID",
                           "SysID = 'A0001' and TYPE <> [PC]",
                           "COUNT * 2 > 10.5 .OR. .NOT. OK",
                           "DTOS(DATE) + STR(BIG, 10, 2)",
                           "SUBSTR(COMPUTER, 2, 3) $ \"abc\"",
                           "(((IP1)",
                           "TRIM(COMPUTER)+'"};
    int i = 0;
    for (const char* t : texts)
        writeAll(dir + QStringLiteral("/e%1.txt").arg(++i), QByteArray(t));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus <corpus folder>\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    try {
        for (const char* sub : {"dbf", "mdx", "expression"})
            QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
        tables(root + QStringLiteral("/dbf"));
        indexes(root + QStringLiteral("/mdx"));
        expressions(root + QStringLiteral("/expression"));
    } catch (const qn::StoreError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
