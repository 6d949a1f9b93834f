// The configuration file beside the program: default, start-up load, saves, field-kind names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <unistd.h>

#include <QCoreApplication>
#include <filesystem>
#include <string>
#include <vector>

#include "config/Config.h"
#include "config/ConfigLocation.h"
#include "platform/Errors.h"
#include "scan/FolderSpec.h"
#include "tests/TestSupport.h"

namespace purgala {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kNodes =
    "<nodes><node Name=\"File Name\" Visible=\"True\" Index=\"0\" DefaultExport=\"True\" "
    "Width=\"172\" ReadOnly=\"True\" Align=\"left\"/></nodes>";

class ConfigTest : public ::testing::Test {
protected:
    // The program folder is a fresh folder of its own, so each test starts with no file.
    explicit ConfigTest(std::string programDir = {})
        : programDir_(programDir.empty() ? temp_.Path() : temp_ / programDir),
          file_(programDir_ + "/PurgalaConfig.xml") {
        fs::create_directories(programDir_);
        SetProgramDirForTesting(programDir_);
        ResetConfigForTesting();
        // The user's configuration folder is a fresh one too: no test writes to the real one.
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(temp_ / "xdg"));
    }
    ~ConfigTest() override {
        qunsetenv("XDG_CONFIG_HOME");
        ResetConfigForTesting();
        SetProgramDirForTesting({});
    }
    std::string UserFile() const { return temp_ / "xdg/purgala/PurgalaConfig.xml"; }
    // Entries of the program folder, to see that no temporary file is left behind.
    std::size_t EntryCount() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(programDir_), {}));
    }
    void AddFolder(const QString& name, const QString& path, const QString& ext) {
        auto folder = GetConfig().GetRoot()->GetFolders()->Add();
        folder->SetName(name);
        folder->SetFullpath(path);
        folder->SetExt(ext);
    }

    TempDir temp_;
    std::string programDir_;
    std::string file_;
};

TEST_F(ConfigTest, NoFileWritesExactlyTheDefault) {
    auto root = GetConfig().GetRoot();
    EXPECT_EQ(ReadFile(file_), DefaultConfigText);
    EXPECT_EQ(EntryCount(), 1u);
    auto nodes = root->GetNodes();
    ASSERT_EQ(nodes->GetCount(), 6);
    const TFieldKind kinds[] = {TFieldKind::FileName,   TFieldKind::FullPath,
                                TFieldKind::FileSize,   TFieldKind::CreateTime,
                                TFieldKind::AccessTime, TFieldKind::WriteTime};
    const int widths[] = {172, 173, 84, 120, 120, 120};
    for (int i = 0; i < 6; ++i) {
        auto node = nodes->GetNode(i);
        EXPECT_EQ(node->GetName().toStdString(), FieldKindName(kinds[i]));
        EXPECT_EQ(node->GetIndex(), i);
        EXPECT_EQ(node->GetWidth(), widths[i]);
        EXPECT_EQ(node->GetAlign(), i < 2 ? "left" : "right");
        EXPECT_TRUE(node->GetVisible() && node->GetDefaultExport() && node->GetReadOnly());
    }
    EXPECT_EQ(root->GetFolders()->GetCount(), 0);
    EXPECT_EQ(root->GetVersionNo(), 2);
    EXPECT_EQ(&GetConfig(), &GetConfig());
}

TEST_F(ConfigTest, ExistingFileIsNotRewritten) {
    const std::string text = "<?xml version=\"1.0\"?>\n<config>\n  <folders/>\n</config>\n";
    WriteFile(file_, text);
    EXPECT_EQ(GetConfig().GetRoot()->GetFolders()->GetCount(), 0);
    EXPECT_EQ(ReadFile(file_), text);
}

TEST_F(ConfigTest, UnloadableFileFailsEveryTimeAndStaysUntouched) {
    WriteFile(file_, "");
    EXPECT_THROW(GetConfig(), ParseError);
    EXPECT_THROW(GetConfig(), ParseError);
    EXPECT_EQ(ReadFile(file_), "");
    WriteFile(file_, "<settings/>");
    EXPECT_THROW(GetConfig(), InterfaceError);
    EXPECT_EQ(ReadFile(file_), "<settings/>");
    fs::remove(file_);  // the next call starts again and writes the default
    EXPECT_EQ(GetConfig().GetRoot()->GetNodes()->GetCount(), 6);
}

TEST_F(ConfigTest, NotWellFormedIsAParseErrorNamingTheReasonAndTheFileStays) {
    const std::string d(ConfigHeader);
    const std::pair<std::string, const char*> malformed[] = {
        {d + "<config><nodes></config>", "mismatch"},
        {d + "<config/>x", "Extra content"},
        {d + "<config/><config/>", "Extra content"},
        {d + "<config a=\"&bogus;\"/>", "'bogus' not declared"},
        {d + "<config a=\"a&b\"/>", "Expected ';'"},
        {d + "<config a=\"a<b\"/>", "Unexpected '<'"},
        {d + "<config a=\"1\" a=\"2\"/>", "redefined"},
        {d + "<config a=\"&#0;\"/>", "Invalid character reference"},
        {d + "<config>&#xD800;</config>", "Invalid character reference"},
        {d + d + "<config/>", "XML declaration not at start"},
        {d + "<config><!-- a -- b --></config>", "Expected '>'"},
        {d + std::string("<config a=\"x\0y\"/>", 17), "NUL byte at offset 50"},
    };
    for (const auto& [text, reason] : malformed) {
        SCOPED_TRACE(text);
        WriteFile(file_, text);
        try {
            GetConfig();
            ADD_FAILURE() << "loaded";
        } catch (const ParseError& e) {
            EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
        }
        EXPECT_EQ(ReadFile(file_), text);
        EXPECT_EQ(EntryCount(), 1u);
    }

    // Well-formed neighbours of those load as they always did.
    const std::string folders = "<folders><folder name=\"a&amp;b&#x43;&#68;\"/></folders>";
    const std::string wellFormed[] = {
        d + "<!-- a - b --><config>" + folders + "</config><?pi x?>",
        "\xEF\xBB\xBF" + d + "<config><x:y/>" + folders + "</config>",
        d + "<!DOCTYPE config [<!ENTITY e \"v\"><!ATTLIST config v CDATA #IMPLIED>]><config>" +
            folders + "</config>",
    };
    for (const std::string& text : wellFormed) {
        SCOPED_TRACE(text);
        WriteFile(file_, text);
        ResetConfigForTesting();
        EXPECT_EQ(GetConfig().GetRoot()->GetFolders()->GetFolder(0)->GetName(), "a&bCD");
        EXPECT_EQ(ReadFile(file_), text);
    }
}

TEST_F(ConfigTest, DirectoryInPlaceOfFileRaisesInOutError) {
    fs::create_directory(file_);
    EXPECT_THROW(GetConfig(), InOutError);
    EXPECT_TRUE(fs::is_directory(file_));
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(ConfigTest, FileNameAddsSeparatorEvenAfterRoot) {
    EXPECT_EQ(TConfig::GetConfigFileName(), file_);
    SetProgramDirForTesting("/");  // only root may keep its file there
    EXPECT_EQ(TConfig::GetConfigFileName(),
              ::access("/", W_OK) == 0 ? "//PurgalaConfig.xml" : UserFile());
    SetProgramDirForTesting(programDir_ + "/");  // a doubled separator loads and saves alike
    GetConfig().Save();
    EXPECT_TRUE(ReadFile(file_).starts_with(std::string(ConfigHeader) +
                                            "<config versionNo=\"2\"><nodes><node "));
    SetProgramDirForTesting({});
    EXPECT_EQ(QString::fromStdString(TConfig::GetConfigFileName()),
              QCoreApplication::applicationDirPath() + "/PurgalaConfig.xml");
}

TEST_F(ConfigTest, SaveWritesHeaderThenRawMarkup) {
    WriteFile(file_,
              "<config versionNo=\"2\">\n\t" + kNodes +
                  "\n\t<folders><folder name=\"old\" fullpath=\"/o\" options=\"3\" ext=\"x\"/>"
                  "</folders></config>");
    auto folders = GetConfig().GetRoot()->GetFolders();
    folders->Clear();
    AddFolder("Temp", "/var/tmp", "tmp");
    AddFolder("a&b", "/a", "");
    GetConfig().Save();
    EXPECT_EQ(ReadFile(file_),
              std::string(ConfigHeader) + "<config versionNo=\"2\">" + kNodes +
                  "<folders><folder name=\"Temp\" fullpath=\"/var/tmp\" ext=\"tmp\"/>"
                  "<folder name=\"a&amp;b\" fullpath=\"/a\" ext=\"\"/></folders></config>");
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(ConfigTest, SaveKeepsUnknownContentAndWhatReadingAdded) {
    WriteFile(file_,
              "<config versionNo=\"7\" x=\"1\"><nodes><node Width=\"9\"/></nodes><extra a=\"b\"/>"
              "</config>");
    auto root = GetConfig().GetRoot();
    EXPECT_EQ(FieldKindOfName(root->GetNodes()->GetNode(0)->GetName().toStdString()),
              TFieldKind::FileName);
    root->GetFolders()->Clear();
    GetConfig().Save();
    EXPECT_EQ(ReadFile(file_), std::string(ConfigHeader) +
                                   "<config versionNo=\"7\" x=\"1\"><nodes><node Width=\"9\" "
                                   "Name=\"\"/></nodes><extra a=\"b\"/><folders/></config>");
}

// Reading a document's folders as a scan does (keep patterns included, which it does not
// have) and saving it gives the file back byte for byte.
TEST_F(ConfigTest, ADocumentWithoutKeepPatternsIsReadScannedAndSavedByteForByte) {
    const std::string text =
        std::string(ConfigHeader) + "<config versionNo=\"2\">" + kNodes +
        "<folders><folder name=\"A\" fullpath=\"/a\" options=\"3\" ext=\"tmp\"/>"
        "<folder name=\"B\" fullpath=\"/b\" ext=\"\" age=\"7\"/></folders></config>";
    WriteFile(file_, text);
    const std::vector<TFolderSpec> setups = FolderSpecsOf(GetConfig().GetRoot()->GetFolders());
    ASSERT_EQ(setups.size(), 2u);
    EXPECT_TRUE(setups[0].keepPatterns.Empty());
    EXPECT_TRUE(setups[0].filter.Matches("x.TMP"));
    EXPECT_EQ(GetConfig().GetRoot()->GetFolders()->GetFolder(1)->GetKeep(), QString());
    GetConfig().Save();
    EXPECT_EQ(ReadFile(file_), text);
}

TEST_F(ConfigTest, FailedSaveKeepsOldFile) {
    GetConfig();
    AddFolder("Temp", "/var/tmp", "tmp");
    {
        const test::FileSizeLimit fullDisk(100);
        EXPECT_THROW(GetConfig().Save(), InOutError);
    }

    EXPECT_EQ(ReadFile(file_), DefaultConfigText);
    EXPECT_EQ(EntryCount(), 1u);
    GetConfig().Save();  // the document is unchanged and saves whole later
    EXPECT_NE(ReadFile(file_).find("fullpath=\"/var/tmp\""), std::string::npos);
}

TEST_F(ConfigTest, SaveFailsWhenFileOrFolderIsGone) {
    GetConfig();
    fs::remove(file_);
    fs::create_directory(file_);
    WriteFile(file_ + "/keep", "k");
    EXPECT_THROW(GetConfig().Save(), InOutError);
    EXPECT_EQ(ReadFile(file_ + "/keep"), "k");
    EXPECT_EQ(EntryCount(), 1u);
}

// Root may write to any folder, so a program folder that is gone stands for one the user may not
// write to, such as an installed program's.
TEST_F(ConfigTest, ProgramFolderThatCannotHoldTheFileHandsItToTheUserFolder) {
    const std::string program = temp_ / "program";
    SetProgramDirForTesting(program);
    GetConfig();
    EXPECT_EQ(ReadFile(UserFile()), DefaultConfigText);
    EXPECT_EQ(fs::status(temp_ / "xdg").permissions(), fs::perms::owner_all);
    EXPECT_FALSE(Exists(program));
    AddFolder("Temp", "/var/tmp", "tmp");
    GetConfig().Save();
    EXPECT_NE(ReadFile(UserFile()).find("fullpath=\"/var/tmp\""), std::string::npos);

    // Decided afresh for every save: a folder that appears takes the file, one that vanishes
    // hands it back.
    fs::create_directory(program);
    GetConfig().Save();
    EXPECT_TRUE(Exists(program + "/PurgalaConfig.xml"));
    fs::remove_all(program);
    fs::remove_all(temp_ / "xdg");
    GetConfig().Save();
    EXPECT_TRUE(Exists(UserFile()));

    WriteFile(temp_ / "blocked", "x");  // a file where a folder should be
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(temp_ / "blocked/xdg"));
    EXPECT_THROW(GetConfig().Save(), InOutError);
}

// The folder the program was installed into is not the user's to keep files in, even when the
// user may write to it (root may write anywhere); it is recognised by its real path.
TEST_F(ConfigTest, OnlyAProgramFolderOutsideTheInstallationKeepsANewFile) {
    const std::string program = temp_ / "bin";
    fs::create_directory(program);
    fs::create_directory_symlink("bin", temp_ / "link");
    const std::string elsewhere = temp_ / "usr/bin";
    fs::create_directories(elsewhere);
    const std::string beside = program + "/PurgalaConfig.xml";
    const struct {
        const char* what;
        std::string installed;
        bool fileThere;
        std::string expected;
    } cases[] = {
        {"installed elsewhere", elsewhere, false, beside},
        {"install folder that does not exist", temp_ / "none", false, beside},
        {"installed here", program, false, UserFile()},
        {"installed here, named through a link", temp_ / "link/", false, UserFile()},
        {"installed here, a file already there", program, true, beside},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(beside);
        if (c.fileThere) {
            WriteFile(beside, DefaultConfigText);
        }
        const std::string_view installed[] = {"/nonexistent/bin", c.installed};
        EXPECT_EQ(ChooseConfigFile(program, installed, "PurgalaConfig.xml"), c.expected);
    }
}

// A huge file is refused by its size before it is read and stays as it is; a file at the bound
// is read (its NUL bytes, not its size, fail it). Sparse files: nothing is written to disk.
TEST_F(ConfigTest, FileAboveTheSizeBoundIsRefusedUnreadAndStays) {
    WriteFile(file_, "<config/>");
    for (const std::int64_t size : {kMaxConfigFileBytes + 1, std::int64_t{8} << 30}) {
        fs::resize_file(file_, static_cast<std::uintmax_t>(size));
        const auto written = fs::last_write_time(file_);
        try {
            GetConfig();
            ADD_FAILURE() << "loaded";
        } catch (const ParseError& e) {
            EXPECT_TRUE(std::string(e.what()).starts_with(file_ + ": " + std::to_string(size) +
                                                          " bytes, more than the 64 MiB"))
                << e.what();
        }
        EXPECT_EQ(fs::file_size(file_), static_cast<std::uintmax_t>(size));
        EXPECT_EQ(fs::last_write_time(file_), written);
    }
    fs::resize_file(file_, static_cast<std::uintmax_t>(kMaxConfigFileBytes));
    EXPECT_THROW(
        try { GetConfig(); } catch (const ParseError& e) {
            EXPECT_STREQ(e.what(), (file_ + ": NUL byte at offset 9").c_str());
            throw;
        },
        ParseError);
}

TEST_F(ConfigTest, AWritableFileInAFolderThatIsNotIsRewrittenInPlace) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may create files in any folder";
    }
    GetConfig();
    AddFolder("Temp", "/var/tmp", "tmp");
    fs::permissions(programDir_, fs::perms::owner_read | fs::perms::owner_exec);
    GetConfig().Save();
    EXPECT_NE(ReadFile(file_).find("fullpath=\"/var/tmp\""), std::string::npos);
    EXPECT_EQ(EntryCount(), 1u);

    // When the file is not writable either, the save fails and leaves it alone.
    fs::permissions(file_, fs::perms::owner_read);
    const std::string saved = ReadFile(file_);
    AddFolder("Other", "/o", "");
    EXPECT_THROW(GetConfig().Save(), InOutError);
    EXPECT_EQ(ReadFile(file_), saved);
}

TEST_F(ConfigTest, SaveKeepsALinkAndThePermissionsOfTheFile) {
    const std::string real = temp_ / "real.xml";
    WriteFile(real, DefaultConfigText);
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(real, file_);
    AddFolder("Temp", "/var/tmp", "tmp");
    GetConfig().Save();
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_NE(ReadFile(real).find("fullpath=\"/var/tmp\""), std::string::npos);
    EXPECT_EQ(fs::status(real).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// The program's folder named in UTF-8 beyond ASCII, and in bytes that are not UTF-8 at all.
class ConfigNonAsciiTest : public ConfigTest, public ::testing::WithParamInterface<const char*> {
protected:
    ConfigNonAsciiTest() : ConfigTest(GetParam()) {}
};

INSTANTIATE_TEST_SUITE_P(Names, ConfigNonAsciiTest,
                         ::testing::Values("Programme \u00e9t\u00e9 \u65e5\u672c",
                                           "Programme \xE9t\xE9 \xFF"));

TEST_P(ConfigNonAsciiTest, NonAsciiTextsRoundTripThroughTheFile) {
    const QString path = QString::fromUtf8("/home/\u00fcser/T\u00e9mp \u65e5\u672c");
    AddFolder("T\u00e9mp", path, "\u00e9");
    GetConfig().Save();
    EXPECT_NE(ReadFile(file_).find("fullpath=\"/home/\u00fcser/T\u00e9mp \u65e5\u672c\""),
              std::string::npos);
    ResetConfigForTesting();
    auto folder = GetConfig().GetRoot()->GetFolders()->GetFolder(0);
    EXPECT_EQ(folder->GetFullpath(), path);
    EXPECT_EQ(folder->GetExt(), QString::fromUtf8("\u00e9"));
}

TEST(ConfigFieldKind, NamesMapBackToTheirKind) {
    for (std::size_t i = 0; i < kFieldKindCount; ++i) {
        const auto kind = static_cast<TFieldKind>(i);
        EXPECT_EQ(FieldKindOfName(FieldKindName(kind)), kind) << i;
    }
    EXPECT_EQ(FieldKindOfName("File Size"), TFieldKind::FileSize);
    EXPECT_EQ(FieldKindOfName("Write Time"), TFieldKind::WriteTime);
    EXPECT_EQ(FieldKindName(TFieldKind::CopyFromFullPath), "Copy From Full Path");
}

TEST(ConfigFieldKind, InexactNameGivesFileName) {
    for (const char* name : {"file size", " File Size", "File Size ", "", "Nope"}) {
        EXPECT_EQ(FieldKindOfName(name), TFieldKind::FileName) << name;
    }
}

}  // namespace
}  // namespace purgala
