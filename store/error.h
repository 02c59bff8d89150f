#pragma once

#include <QString>

#include <stdexcept>

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

} // namespace qn
