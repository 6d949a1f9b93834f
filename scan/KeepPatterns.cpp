#include "scan/KeepPatterns.h"

#include <fnmatch.h>

#include <algorithm>

#include "config/AttributeValues.h"

namespace purgala {

namespace {

bool HasWildcard(std::string_view text) {
    return text.find_first_of("*?[") != std::string_view::npos;
}

}  // namespace

TKeepPatterns::TKeepPatterns(std::string_view patterns) {
    for (std::string_view pattern : ListItemsOf(patterns)) {
        const bool foldersOnly = !pattern.empty() && pattern.back() == '/';
        while (!pattern.empty() && pattern.back() == '/') {
            pattern.remove_suffix(1);
        }
        // A "/" before the last name ties the pattern to the configured folder; a bare name is
        // looked for at every depth, as if it began with "**/".
        const bool anchored = pattern.find('/') != std::string_view::npos;
        std::vector<std::string_view> names;
        std::size_t from = 0;
        while (from <= pattern.size()) {
            const std::size_t to = std::min(pattern.find('/', from), pattern.size());
            const std::string_view name = pattern.substr(from, to - from);
            from = to + 1;
            const bool repeatsAnyFolders = name == "**" && !names.empty() && names.back() == "**";
            if (!name.empty() && name != "." && !repeatsAnyFolders) {
                names.push_back(name);
            }
        }
        if (names.empty()) {
            continue;  // nothing but separators
        }
        if (!anchored && names.front() != "**") {
            names.insert(names.begin(), "**");
        }
        const auto first = static_cast<std::uint32_t>(pieces_.size());
        for (const std::string_view name : names) {
            TPiece piece;
            if (name == "**") {
                piece.kind = TKind::AnyFolders;
            } else if (name == "*") {
                piece.kind = TKind::Any;
            } else if (!HasWildcard(name)) {
                piece.kind = TKind::Literal;
                piece.text = name;
            } else if (name.front() == '*' && !HasWildcard(name.substr(1))) {
                piece.kind = TKind::Suffix;
                piece.text = name.substr(1);
            } else {
                // A "[" or "]" may be a plain byte, but cutting there only makes the texts
                // shorter, never wrong.
                piece.kind = TKind::Glob;
                piece.text = name;
                piece.head = name.substr(0, name.find_first_of("*?[]"));
                piece.tail = name.substr(name.find_last_of("*?[]") + 1);
            }
            piece.foldersOnly = foldersOnly;
            pieces_.push_back(std::move(piece));
        }
        pieces_.back().last = true;
        pieces_.back().endsAtFile = !foldersOnly;
        Reach(start_, first);
    }
}

void TKeepPatterns::Reach(TState& state, std::uint32_t position) const {
    for (;;) {
        if (position >= pieces_.size()) {
            return;
        }
        const TPiece& piece = pieces_[position];
        if (std::find(state.begin(), state.end(), position) == state.end()) {
            state.insert(piece.endsAtFile ? state.begin() : state.end(), position);
        }
        if (piece.kind != TKind::AnyFolders || piece.last) {
            return;
        }
        ++position;
    }
}

bool TKeepPatterns::Matches(const TPiece& piece, std::string_view name) const {
    switch (piece.kind) {
        case TKind::Any:
        case TKind::AnyFolders:
            return true;
        case TKind::Literal:
            return name == piece.text;
        case TKind::Suffix:
            return name.ends_with(piece.text);
        case TKind::Glob:
            // A leading dot is matched like any byte, as .gitignore does; "\" is no escape, so
            // that no pattern the user types is malformed.
            return name.size() >= piece.head.size() + piece.tail.size() &&
                   name.starts_with(piece.head) && name.ends_with(piece.tail) &&
                   ::fnmatch(piece.text.c_str(), name.data(), FNM_NOESCAPE) == 0;
    }
    return false;
}

bool TKeepPatterns::KeepsFile(const TState& at, std::string_view name) const {
    for (const std::uint32_t position : at) {
        const TPiece& piece = pieces_[position];
        if (!piece.endsAtFile) {
            return false;  // the rest cannot end at a file
        }
        if (Matches(piece, name)) {
            return true;
        }
    }
    return false;
}

bool TKeepPatterns::KeepsFolder(const TState& at, std::string_view name, TState& inner) const {
    inner.clear();
    inner.reserve(at.size() + 1);
    for (const std::uint32_t position : at) {
        const TPiece& piece = pieces_[position];
        if (piece.kind == TKind::AnyFolders) {
            if (piece.last) {
                return true;
            }
            // It spans this folder too, and may end here.
            Reach(inner, position);
        } else if (Matches(piece, name)) {
            if (piece.last) {
                return true;
            }
            Reach(inner, position + 1);
        }
    }
    return false;
}

bool TKeepPatterns::Keeps(std::string_view relativePath, bool folder) const {
    TState at = start_;
    TState inner;
    std::size_t from = 0;
    for (;;) {
        const std::size_t to = relativePath.find('/', from);
        const std::string name(relativePath.substr(from, to - from));
        if (to == std::string_view::npos) {
            return folder ? KeepsFolder(at, name, inner) : KeepsFile(at, name);
        }
        if (KeepsFolder(at, name, inner)) {
            return true;
        }
        at.swap(inner);
        from = to + 1;
    }
}

}  // namespace purgala
