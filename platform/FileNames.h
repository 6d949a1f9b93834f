#pragma once
// File names are bytes; the user and Qt's own calls see them as text.

#include <QString>
#include <string>
#include <string_view>

namespace purgala {

// File-system bytes as text for the user and for Qt's own calls; bytes that do not decode show as
// replacement characters, so the text must never name a file for a file operation.
QString DecodeFileName(std::string_view bytes);
// Text as file-system bytes.
std::string EncodeFileName(const QString& text);

}  // namespace purgala
