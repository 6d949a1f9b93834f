#pragma once
// The folders and files a configured folder keeps out of every scan, written as the user knows
// them from .gitignore: glob patterns relative to the configured folder, separated by ";".
//
//   *.lock            a name at any depth ("*" and "?" stay within one name)
//   mozilla/          a folder at any depth (a trailing "/": folders only)
//   /build            only right below the configured folder (a leading or inner "/" anchors)
//   **/shader-cache/  "**" spans any number of folders, none included
//
// A kept folder is never opened, so nothing below it is listed or deleted. Patterns are split
// into one glob per name once, when the folder's setup is built; the walk then carries, per
// folder, which of those globs the next name may meet, so a name costs one fnmatch(3) per glob
// still alive at its depth and nothing when there are no patterns. Names and patterns are raw
// bytes. A pattern that makes no sense is never an error: empty names between separators are
// skipped, an unbalanced "[" is a literal, "\" is a plain byte.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace purgala {

class TKeepPatterns {
public:
    // Where a walk stands in the patterns at one folder: the globs its entries may meet, those
    // that may end a pattern at a file first, so that a file looks at those alone.
    using TState = std::vector<std::uint32_t>;

    explicit TKeepPatterns(std::string_view patterns = {});

    bool Empty() const { return pieces_.empty(); }
    // The state at the configured folder itself.
    const TState& Start() const { return start_; }

    // Whether the file `name` of a folder at `at` is kept. `name` must be followed by a NUL, as
    // a directory entry's is.
    bool KeepsFile(const TState& at, std::string_view name) const;
    // Whether the folder `name` of a folder at `at` is kept; when it is not, `inner` is the
    // state inside it.
    bool KeepsFolder(const TState& at, std::string_view name, TState& inner) const;

    // The same for a path relative to the configured folder ("a/b/c"), walked name by name.
    bool Keeps(std::string_view relativePath, bool folder) const;

private:
    enum class TKind : std::uint8_t { Literal, Any, Suffix, Glob, AnyFolders };
    struct TPiece {
        std::string text;  // the glob; for Suffix the text after the "*"
        // Of a Glob, the plain text before its first wildcard and after its last: a name that
        // does not start and end with them is no match, and fnmatch need not be asked.
        std::string head;
        std::string tail;
        TKind kind = TKind::Literal;
        bool last = false;         // the pattern's last name
        bool foldersOnly = false;  // the pattern ended in "/"
        bool endsAtFile = false;   // last, and not foldersOnly
    };

    bool Matches(const TPiece& piece, std::string_view name) const;
    // Adds `position`, and where it is a "**" that does not end its pattern the piece after it
    // too, since "**" may span no folder at all.
    void Reach(TState& state, std::uint32_t position) const;

    std::vector<TPiece> pieces_;  // every pattern's names, one pattern after another
    TState start_;
};

}  // namespace purgala
