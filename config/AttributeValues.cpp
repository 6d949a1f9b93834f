#include "config/AttributeValues.h"

#include <algorithm>
#include <climits>

namespace purgala {

std::optional<std::int32_t> ParseInt32(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::int64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > std::int64_t{1} << 31) {
            return std::nullopt;
        }
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

namespace {

bool EqualsIgnoringCase(std::string_view text, std::string_view lowerWord) {
    if (text.size() != lowerWord.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != lowerWord[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<bool> ParseBoolean(std::string_view text) {
    if (EqualsIgnoringCase(text, "true")) {
        return true;
    }
    if (EqualsIgnoringCase(text, "false")) {
        return false;
    }
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    bool nonZero = false;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        nonZero = nonZero || c != '0';
    }
    return nonZero;
}

std::optional<std::int32_t> AgeDaysOf(const QString& text) {
    if (text.isEmpty() ||
        !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; })) {
        return std::nullopt;
    }
    bool ok = false;
    const int days = text.toInt(&ok);
    return ok ? std::optional<std::int32_t>(days) : std::nullopt;
}

std::vector<std::string_view> ListItemsOf(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::vector<std::string_view> items;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        const std::size_t end = std::min(text.find(';', begin), text.size());
        std::string_view item = text.substr(begin, end - begin);
        begin = end + 1;
        while (!item.empty() && blank(item.front())) {
            item.remove_prefix(1);
        }
        while (!item.empty() && blank(item.back())) {
            item.remove_suffix(1);
        }
        if (!item.empty()) {
            items.push_back(item);
        }
    }
    return items;
}

}  // namespace purgala
