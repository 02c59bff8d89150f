// Writes the starting corpus under fuzz/corpus/: small valid tables and indexes, and a few broken
// variants of them. Run by hand when the formats change: make_corpus <fuzz/corpus>
#include "dbffile.h"
#include "error.h"
#include "fuzzutil.h"
#include "mdxfile.h"

#include <QDir>
#include <cstdio>

namespace {

using fuzz::readAll;
using fuzz::writeAll;

// A copy of a valid file with bytes put at an offset, or cut to a length (cut >= 0).
void variant(const QString& from, const QString& to, int at, const QByteArray& bytes,
             int cut = -1) {
    QByteArray b = readAll(from);
    b.replace(at, bytes.size(), bytes);
    writeAll(to, cut >= 0 ? b.left(cut) : b);
}

void write(const QString& root) {
    const QString dbf = root + "/dbf/", mdx = root + "/mdx/";
    qn::DbfFile::create(
        dbf + "valid.dbf",
        {{"NAME", 'C', 8, 0}, {"QTY", 'N', 6, 2}, {"WHEN", 'D', 8, 0}, {"OK", 'L', 1, 0}}, true,
        {"NAME"});
    {
        qn::DbfFile t;
        t.open(dbf + "valid.dbf", true);
        for (const char* r :
             {" alpha    12.5020260101T", "*deleted  -1.00        F", " zeta    999.9919991231?"})
            t.appendRecord(r);
    }
    const int size = int(readAll(dbf + "valid.dbf").size());
    variant(dbf + "valid.dbf", dbf + "empty.dbf", 0, {}, 32 + 32 * 4 + 1);
    variant(dbf + "valid.dbf", dbf + "truncated.dbf", 0, {}, size - 20);
    variant(dbf + "valid.dbf", dbf + "count.dbf", 4, "\x7F");      // more rows than the file holds
    variant(dbf + "valid.dbf", dbf + "hdrlen.dbf", 8, "\xFF\x7F"); // header past the end
    variant(dbf + "valid.dbf", dbf + "type.dbf", 32 + 11, "M");

    const qn::TagSpec name{"NAME", "UPPER(NAME)", "", 'C', 8, false, false};
    const qn::TagSpec when{"WHEN", "WHEN", "", 'D', 8, false, true};
    qn::MdxFile::create(mdx + "small.mdx", "VALID", {name, when});
    qn::MdxFile::create(mdx + "deep.mdx", "VALID", {name}); // deep enough for interior nodes
    {
        qn::MdxFile small, deep;
        small.open(mdx + "small.mdx", true);
        small.tag(0).insert("ALPHA   ", 1);
        small.tag(0).insert("ZETA    ", 3);
        small.tag(1).insert("20260101", 1);
        small.flush();
        deep.open(mdx + "deep.mdx", true);
        for (uint32_t i = 1; i <= 150; ++i)
            deep.tag(0).insert(QString("K%1").arg(i * 37 % 1000, 7, 10, QChar('0')).toStdString(),
                               i);
        deep.flush();
    }
    variant(mdx + "small.mdx", mdx + "short.mdx", 0, {}, 2048);
    variant(mdx + "small.mdx", mdx + "root.mdx", 4 * 512, "\x7F"); // first root outside the file
    variant(mdx + "deep.mdx", mdx + "keys.mdx", 6 * 512, "\xFF");  // root claims too many keys

    int i = 0;
    for (const char* t : {"SYSID", "UPPER(COMPUTER)+SYSID", "SysID = 'A0001' and TYPE <> [PC]",
                          "COUNT * 2 > 10.5 .OR. .NOT. OK", "DTOS(DATE) + STR(BIG, 10, 2)",
                          "SUBSTR(COMPUTER, 2, 3) $ \"abc\"", "(((IP1)", "TRIM(COMPUTER)+'"})
        writeAll(root + QStringLiteral("/expression/e%1.txt").arg(++i), t);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus <corpus folder>\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (const char* sub : {"dbf", "mdx", "expression"})
        QDir().mkpath(root + '/' + sub);
    try {
        write(root);
    } catch (const qn::StoreError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
