#pragma once

#include <QString>
#include <cstdint>
#include <stdexcept>
#include <string>

// Invariants of the engine's own state, asserted in the sanitizer build. Facts read from a file
// are never asserted: they are checked and refused with a StoreError.
#ifdef QUILLNET_CHECKED
#include <cassert>
#define QN_CHECK(cond) assert(cond)
#else
#define QN_CHECK(cond) ((void)0)
#endif

namespace qn {

/// An error whose text is meant for the user. Handlers let it escape; the application shows
/// what() in its error box and keeps running.
class Error : public std::runtime_error {
public:
    explicit Error(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const noexcept { return m_message; }

private:
    QString m_message;
};

/// Raised by the table engine: files, indexes, expressions, field values.
class StoreError : public Error {
public:
    using Error::Error;
};

/// Raised by a read step that found the index or the table damaged: an index entry that leads
/// to a row the table does not have or to a row of another key, or a header that promises
/// more rows than the file holds. TableFile::mend() puts it right.
class IndexMismatch : public StoreError {
public:
    IndexMismatch(const QString& message, int tag = -1, std::string key = {}, uint32_t recno = 0)
        : StoreError(message), m_tag(tag), m_key(std::move(key)), m_recno(recno) {}
    int tag() const { return m_tag; }
    const std::string& key() const { return m_key; }
    uint32_t recno() const { return m_recno; }

private:
    int m_tag;
    std::string m_key;
    uint32_t m_recno;
};

} // namespace qn
