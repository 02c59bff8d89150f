#include "codepage.h"

#include <array>

namespace qn::cp1252 {
namespace {

// 0x80..0x9F; undefined positions hold their own value.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int encodeChar(char16_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == u)
            return 0x80 + i;
    return -1;
}

} // namespace

QString decode(std::string_view bytes) {
    QString out(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* d = out.data();
    for (unsigned char c : bytes)
        *d++ = QChar(c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : char16_t(c));
    return out;
}

std::optional<std::string> encode(const QString& text) {
    // Sized once and filled in place: this runs for every field written and every key sought.
    std::string out(static_cast<size_t>(text.size()), '\0');
    const char16_t* src = reinterpret_cast<const char16_t*>(text.utf16());
    for (size_t i = 0; i < out.size(); ++i) {
        char16_t u = src[i];
        int b = u < 0x80 ? int(u) : encodeChar(u);
        if (b < 0)
            return std::nullopt;
        out[i] = static_cast<char>(b);
    }
    return out;
}

QChar firstUnrepresentable(const QString& text) {
    for (QChar ch : text)
        if (encodeChar(ch.unicode()) < 0)
            return ch;
    return QChar();
}

unsigned char toUpper(unsigned char c) {
    if (c >= 'a' && c <= 'z')
        return c - 32;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return c - 32;
    switch (c) {
    case 0x9A:
        return 0x8A; // š
    case 0x9C:
        return 0x8C; // œ
    case 0x9E:
        return 0x8E; // ž
    case 0xFF:
        return 0x9F; // ÿ
    default:
        return c;
    }
}

unsigned char toLower(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c + 32;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 32;
    switch (c) {
    case 0x8A:
        return 0x9A;
    case 0x8C:
        return 0x9C;
    case 0x8E:
        return 0x9E;
    case 0x9F:
        return 0xFF;
    default:
        return c;
    }
}

} // namespace qn::cp1252
