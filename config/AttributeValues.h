#pragma once
// The text forms of the configuration's attribute values.

#include <QString>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace purgala {

// A decimal integer with an optional sign that fits 32 bits; nothing for any other text.
std::optional<std::int32_t> ParseInt32(std::string_view text);

// "True"/"False" in any letter case, or a decimal number of any length (zero is false).
std::optional<bool> ParseBoolean(std::string_view text);

// A folder's `age` as written: a whole number of days, digits only ("7", "0"); nothing for any
// other text ("", "-1", "+7", "7.5", "a week").
std::optional<std::int32_t> AgeDaysOf(const QString& text);

// The items of a list separated by ";" (a folder's extensions, its keep patterns), without the
// blanks and tabs around them; empty items are left out. The views point into `text`.
std::vector<std::string_view> ListItemsOf(std::string_view text);

}  // namespace purgala
