#pragma once

#include <QString>
#include <array>
#include <functional>

namespace qn {

/// The program's settings as kept in setup.nfo: ten text lines, then the password as one decimal
/// character code per line.
struct SettingsRecord {
    QString DatabasePath;
    QString SysIdPrefix;
    QString CompanyName;
    QString CompanyAddress;
    QString CompanyCity;
    QString CompanyState;
    QString CompanyZip;
    QString CompanyPhone;
    QString CompanyFax;
    QString CompanyEmail;
    QString Password;

    bool operator==(const SettingsRecord&) const = default;
};

namespace settings {

/// The file name beside the program's working folder.
QString fileName();

/// Reads the file into record, field by field, so that on an error the fields read before it
/// keep their new values. afterFirstLine runs once line 1 is in DatabasePath (start-up sets up
/// the database folder there); if it throws, nothing more is read. The password is rebuilt from
/// empty. Throws Error when the file cannot be read or a password line is not an integer.
void load(const QString& path, SettingsRecord& record,
          const std::function<void(const QString&)>& afterFirstLine = {});

/// The ten value lines in file order, then the password.
struct Lines {
    std::array<QString, 10> values;
    QString password;
};

/// Throws Error, naming the box, when a value cannot be written so that it reads back the same:
/// a character outside code page 1252, or a line break in a value line.
void validate(const Lines& lines);

/// Replaces the file only once the new one is complete; the file is readable by its owner
/// only, since it holds the password. Validates first; throws Error on any failure.
void save(const QString& path, const Lines& lines);

/// A password line as an integer: decimal, or hexadecimal after "$" or "0x", with optional
/// leading blanks and sign, within 32 bits. Throws Error for anything else.
qint32 parseCode(const QString& line);

} // namespace settings
} // namespace qn
