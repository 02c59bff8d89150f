#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace qn::discovery {

/// Reads the computer list that the listing batch leaves: four heading lines, then one line per
/// computer ("\\NAME   remark"), up to a closing line such as "The command completed
/// successfully." or the end of the file. The text is code page 1252; lines end with CR LF or LF.
class Listing {
public:
    /// The name on one listing line: from its third character up to, not including, its first
    /// space. Empty when the line has no space or its first space comes before the fourth
    /// character.
    static QString cutName(const QString& line);

    /// True for the line that ends the list: its cut name is "e".
    static bool isClosingLine(const QString& line);

    /// The names in file order, duplicates and empty names included.
    static QStringList parse(const QByteArray& bytes);

    /// Reads and parses a listing file; throws qn::Error when it cannot be read.
    static QStringList readFile(const QString& path);
    /// A whole file's bytes; throws qn::Error naming what went wrong. Shared by the readers of
    /// discovery files.
    static QByteArray readBytes(const QString& path);
};

} // namespace qn::discovery
