// What a folder keeps and which files count: the keep patterns against names and paths, and the
// extension lists in every spelling the add-folder dialog takes.
#include "scan/KeepPatterns.h"

#include <gtest/gtest.h>

#include <string>

#include "scan/FolderSpec.h"

namespace purgala {
namespace {

TEST(KeepPatternsTest, PatternsAgainstNamesAndPaths) {
    struct Case {
        const char* patterns;
        const char* path;  // relative to the configured folder
        bool folder;
        bool kept;
    };
    const Case cases[] = {
        // A bare name, at any depth; "*" and "?" within one name.
        {"*.lock", "a.lock", false, true},
        {"*.lock", "x/y/a.lock", false, true},
        {"*.lock", "a.lock.bak", false, false},
        {"*.lock", "lock", false, false},
        {"?.tmp", "a.tmp", false, true},
        {"?.tmp", "ab.tmp", false, false},
        {"a*c", "a/c", false, false},  // "*" does not cross a folder
        {"a*c", "abbc", false, true},
        {"cache", "x/cache", true, true},
        {"cache", "x/cache", false, true},
        // A trailing "/": folders only.
        {"mozilla/", "mozilla", true, true},
        {"mozilla/", "deep/down/mozilla", true, true},
        {"mozilla/", "mozilla", false, false},
        {"mozilla/", "mozillax", true, false},
        // A leading or inner "/" anchors to the configured folder.
        {"/build", "build", true, true},
        {"/build", "src/build", true, false},
        {"a/b", "a/b", false, true},
        {"a/b", "x/a/b", false, false},
        {"a/*/c/", "a/zz/c", true, true},
        {"a/*/c/", "a/zz/yy/c", true, false},
        // "**" spans any number of folders, none included.
        {"**/shader-cache/", "shader-cache", true, true},
        {"**/shader-cache/", "a/b/c/shader-cache", true, true},
        {"a/**/z", "a/z", false, true},
        {"a/**/z", "a/b/c/z", false, true},
        {"a/**/z", "b/a/z", false, false},
        {"a/**", "a", true, false},  // what is inside, not the folder itself
        {"a/**", "a/x/y", false, true},
        {"**", "anything/at/all", false, true},
        // Hidden names are plain names: "*" matches a leading dot.
        {"*", ".hidden", false, true},
        {".*", ".cache", true, true},
        {"*.swp", ".file.swp", false, true},
        // Raw bytes that are not UTF-8, in the name and in the pattern.
        {"bad\xFF*", "bad\xFF\xFE.bin", false, true},
        {"?\xFE", "\xFF\xFE", false, true},
        {"*.lock", "n\xE9\xFF.lock", false, true},
        {"x", "\xFFx", false, false},
        // "[" classes; an unbalanced one is a literal, and "\" a plain byte.
        {"[ab].tmp", "b.tmp", false, true},
        {"[ab].tmp", "c.tmp", false, false},
        {"[ab", "[ab", false, true},
        {"*[x", "a[x", false, true},
        {"a\\", "a\\", false, true},
        {"a\\*", "a\\bc", false, true},
        // Several patterns; blanks around them and empty ones between separators are skipped.
        {" mozilla/ ;*.lock;;**/shader-cache/", "p/shader-cache", true, true},
        {"mozilla/; *.lock", "a.lock", false, true},
        {"a//b", "a/b", false, true},
        {"./a", "a", false, true},
        {";;/;//", "a", true, false},
        {"", "a", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("'") + c.patterns + "' " + c.path + (c.folder ? "/" : ""));
        EXPECT_EQ(TKeepPatterns(c.patterns).Keeps(c.path, c.folder), c.kept);
    }
    EXPECT_TRUE(TKeepPatterns(" ; ").Empty());
    EXPECT_TRUE(TKeepPatterns().Start().empty());
}

// The walk carries the state down folder by folder; a kept folder ends it there.
TEST(KeepPatternsTest, TheStateFollowsTheWalk) {
    const TKeepPatterns patterns("/a/b/;*.lock");
    TKeepPatterns::TState inA;
    ASSERT_FALSE(patterns.KeepsFolder(patterns.Start(), "a", inA));
    TKeepPatterns::TState inB;
    EXPECT_TRUE(patterns.KeepsFolder(inA, "b", inB));
    TKeepPatterns::TState inC;
    ASSERT_FALSE(patterns.KeepsFolder(inA, "c", inC));
    EXPECT_FALSE(patterns.KeepsFolder(inC, "b", inB));  // anchored: not below a/c
    EXPECT_TRUE(patterns.KeepsFile(inC, "x.lock"));
    EXPECT_FALSE(patterns.KeepsFile(inC, "b"));
}

TEST(ExtFilterTest, SeveralExtensionsInEverySpellingTheDialogTakes) {
    const char* const names[] = {"a.tmp", "B.TMP", "x.Log", "a.tmp.bak", "noext"};
    struct Case {
        const char* typed;
        const char* stored;
        const char* matches;  // per name above: "1" listed, "0" not
    };
    const Case cases[] = {
        {"tmp", "tmp", "11000"},
        {".tmp", "tmp", "11000"},
        {"*.tmp", "tmp", "11000"},
        {"tmp;log", "tmp;log", "11100"},
        {"tmp; log", "tmp;log", "11100"},
        {"*.tmp;*.log", "tmp;log", "11100"},
        {".tmp; .LOG", "tmp;LOG", "11100"},
        {" tmp ;; log; ", "tmp;log", "11100"},
        {"tmp;TMP;tmp", "tmp;TMP", "11000"},
        {"bak;tmp.bak", "bak;tmp.bak", "00010"},
        // Nothing left: the dialog refuses it for "File Ext ="; stored, it is every file.
        {" ", "", "11111"},
        {";*.", "", "11111"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        const QString stored = BareExtensions(QString::fromUtf8(c.typed));
        EXPECT_EQ(stored.toStdString(), c.stored);
        const TExtFilter filter(stored.toStdString());
        std::string matches;
        for (const char* name : names) {
            matches += filter.Matches(name) ? '1' : '0';
        }
        EXPECT_EQ(matches, c.matches);
    }
}

TEST(ExtFilterTest, AListInTheDocumentComparesEachItemAsOneExtensionIs) {
    const TExtFilter list("tmp; log ;;BAK");
    for (const char* name : {"a.tmp", "b.LOG", "c.bak", ".tmp", "d.x.Bak"}) {
        EXPECT_TRUE(list.Matches(name)) << name;
    }
    for (const char* name : {"tmp", "a.tmp.x", "a. log", "a.", "a.tmp;log", "a.lo"}) {
        EXPECT_FALSE(list.Matches(name)) << name;
    }
    // Without a ";" the extension is whole, as ever: a blank is part of it.
    EXPECT_TRUE(TExtFilter(" ").Matches("a. "));
    EXPECT_FALSE(TExtFilter(" ").Matches("a."));
    EXPECT_TRUE(TExtFilter(";").MatchesAll());
}

}  // namespace
}  // namespace purgala
