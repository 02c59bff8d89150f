#pragma once

#include <QString>

#include <optional>
#include <string>
#include <string_view>

namespace qn::cp1252 {

/// Decodes code page 1252 bytes. The five bytes the code page leaves undefined map to the
/// C1 control of the same value so that every byte string survives a round trip.
QString decode(std::string_view bytes);

/// Encodes to code page 1252; std::nullopt when a character has no byte in the code page.
std::optional<std::string> encode(const QString& text);

/// The first character of text that code page 1252 cannot hold, or a null QChar.
QChar firstUnrepresentable(const QString& text);

/// Upper-cases one code page 1252 byte the way the code page's letters pair up.
unsigned char toUpper(unsigned char c);
unsigned char toLower(unsigned char c);

} // namespace qn::cp1252
