#pragma once
// The text forms of the configuration's attribute values.

#include <QString>
#include <cstdint>
#include <optional>
#include <string_view>

namespace purgala {

// A decimal integer with an optional sign that fits 32 bits; nothing for any other text.
std::optional<std::int32_t> ParseInt32(std::string_view text);

// "True"/"False" in any letter case, or a decimal number of any length (zero is false).
std::optional<bool> ParseBoolean(std::string_view text);

// A folder's `age` as written: a whole number of days, digits only ("7", "0"); nothing for any
// other text ("", "-1", "+7", "7.5", "a week").
std::optional<std::int32_t> AgeDaysOf(const QString& text);

}  // namespace purgala
