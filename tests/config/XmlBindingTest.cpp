// The typed binding over a loaded document: loading, attribute forms, child lists.
#include <gtest/gtest.h>

#include <QString>
#include <string>
#include <string_view>

#include "config/PurgalaConfig.h"
#include "platform/Errors.h"
#include "tests/TestSupport.h"

namespace purgala {
namespace {

using test::TempDir;
using test::WriteFile;

class XmlTest : public ::testing::Test {
protected:
    std::shared_ptr<IXMLConfigType> Load(std::string_view xml) {
        WriteFile(dir_ / "c.xml", xml);
        return LoadConfigDocument(dir_ / "c.xml");
    }
    // Loads a document whose `folders` holds `inner`.
    std::shared_ptr<IXMLFoldersType> Folders(std::string_view inner) {
        return Load("<config><folders>" + std::string(inner) + "</folders></config>")->GetFolders();
    }
    TempDir dir_;
};

std::string Xml(const IXMLNode& node) {
    return node.GetXML().toStdString();
}

TEST_F(XmlTest, LoadMissingOrEmptyFileRaisesParseError) {
    EXPECT_THROW(LoadConfigDocument(dir_ / "none.xml"), ParseError);
    EXPECT_THROW(Load(""), ParseError);
}

TEST_F(XmlTest, LoadDecodesByTheDeclaredEncoding) {
    const auto name = [this](const std::string& encoding, const std::string& value) {
        return Load("<?xml version=\"1.0\" encoding=\"" + encoding +
                    "\"?><config><folders><folder name=\"" + value + "\"/></folders></config>")
            ->GetFolders()
            ->GetFolder(0)
            ->GetName();
    };
    EXPECT_EQ(name("ISO-8859-1", "caf\xE9"), QString::fromUtf8("caf\u00e9"));
    EXPECT_EQ(name("windows-1252", "caf\xE9 \x80 \x9C"),
              QString::fromUtf8("caf\u00e9 \u20ac \u0153"));
    EXPECT_EQ(name("ISO-8859-15", "\xA4"), QString::fromUtf8("\u20ac"));
    // Bytes that do not fit the declared encoding, or an encoding that cannot be decoded.
    EXPECT_THROW(Load("<config><folders><folder name=\"caf\xE9\"/></folders></config>"),
                 ParseError);
    EXPECT_THROW(Load("<config v=\"\xED\xA0\x80\"/>"), ParseError);  // encoded surrogate
    EXPECT_THROW(name("US-ASCII", "caf\xE9"), ParseError);
    try {
        name("x-no-such-encoding", "a");
        FAIL() << "no error";
    } catch (const ParseError& e) {
        EXPECT_NE(std::string(e.what()).find("x-no-such-encoding"), std::string::npos) << e.what();
    }
}

TEST_F(XmlTest, LoadRootOtherThanConfigRaisesInterfaceError) {
    EXPECT_THROW(Load("<settings/>"), InterfaceError);
    EXPECT_THROW(Load("<Config/>"), InterfaceError);
    EXPECT_THROW(Load("<config xmlns=\"urn:x\"/>"), InterfaceError);
}

TEST_F(XmlTest, LoadDropsWhitespaceOnlyTextKeepsComments) {
    auto root = Load("<config a=\"1\">\n\t<nodes>\r\n</nodes> <!--c--> </config>\n");
    EXPECT_EQ(Xml(*root), "<config a=\"1\"><nodes/><!--c--></config>");
}

TEST_F(XmlTest, TextGetterOfMissingAttributeAppendsItEmpty) {
    auto folder = Folders("<folder fullpath=\"/t\"/>")->GetFolder(0);
    EXPECT_EQ(folder->GetExt(), QString());
    EXPECT_EQ(Xml(*folder), "<folder fullpath=\"/t\" ext=\"\"/>");
}

// Only a folder with an age rule carries `age`: reading never adds it, and no rule removes it.
TEST_F(XmlTest, AgeIsWrittenOnlyForAFolderWithARule) {
    auto folders = Folders(
        "<folder name=\"a\"/><folder name=\"b\" age=\"7\"/>"
        "<folder name=\"c\" age=\"a week\"/><folder name=\"d\" age=\"-1\"/>");
    auto plain = folders->GetFolder(0);
    EXPECT_EQ(plain->GetAge(), 0);
    EXPECT_EQ(plain->GetAgeText(), QString());
    EXPECT_EQ(Xml(*plain), "<folder name=\"a\"/>");
    auto aged = folders->GetFolder(1);
    EXPECT_EQ(aged->GetAge(), 7);
    aged->SetAge(0);
    EXPECT_EQ(Xml(*aged), "<folder name=\"b\"/>");
    plain->SetAge(30);
    EXPECT_EQ(Xml(*plain), "<folder name=\"a\" age=\"30\"/>");
    auto bad = folders->GetFolder(2);
    EXPECT_THROW(bad->GetAge(), ConvertError);
    EXPECT_THROW(folders->GetFolder(3)->GetAge(), ConvertError);
    EXPECT_EQ(bad->GetAgeText(), "a week");
    bad->SetAgeText({});
    EXPECT_EQ(Xml(*bad), "<folder name=\"c\"/>");
}

// Only a folder with keep patterns carries `keep`, as written, after what it had.
TEST_F(XmlTest, KeepIsWrittenOnlyForAFolderWithPatterns) {
    auto folders = Folders(
        "<folder name=\"a\" ext=\"tmp\"/>"
        "<folder name=\"b\" keep=\"mozilla/;*.lock\" ext=\"tmp;log\"/>");
    auto plain = folders->GetFolder(0);
    EXPECT_EQ(plain->GetKeep(), QString());
    EXPECT_EQ(Xml(*plain), "<folder name=\"a\" ext=\"tmp\"/>");
    plain->SetKeep("**/shader-cache/;a&b");
    plain->SetAge(3);
    EXPECT_EQ(Xml(*plain),
              "<folder name=\"a\" ext=\"tmp\" keep=\"**/shader-cache/;a&amp;b\" age=\"3\"/>");
    auto kept = folders->GetFolder(1);
    EXPECT_EQ(kept->GetKeep(), "mozilla/;*.lock");
    EXPECT_EQ(kept->GetExt(), "tmp;log");
    kept->SetKeep("*.swp");  // in its place
    EXPECT_EQ(Xml(*kept), "<folder name=\"b\" keep=\"*.swp\" ext=\"tmp;log\"/>");
    kept->SetKeep({});
    EXPECT_EQ(Xml(*kept), "<folder name=\"b\" ext=\"tmp;log\"/>");
}

TEST_F(XmlTest, IntegerGetterRaisesEveryTimeOnMissingEmptyOrBadValue) {
    auto nodes = Load(
                     "<config><nodes><node Name=\"A\" Index=\"\"/><node Width=\"1.5\"/>"
                     "</nodes></config>")
                     ->GetNodes();
    auto first = nodes->GetNode(0);
    EXPECT_THROW(first->GetWidth(), ConvertError);  // missing: appended empty
    EXPECT_THROW(first->GetWidth(), ConvertError);
    EXPECT_THROW(first->GetIndex(), ConvertError);
    EXPECT_EQ(first->GetName(), "A");
    EXPECT_EQ(Xml(*first), "<node Name=\"A\" Index=\"\" Width=\"\"/>");
    EXPECT_THROW(nodes->GetNode(1)->GetWidth(), ConvertError);
}

TEST_F(XmlTest, IntegerValueForms) {
    const auto read = [this](const std::string& text) {
        return Folders("<folder options=\"" + text + "\"/>")->GetFolder(0)->GetOptions();
    };
    EXPECT_EQ(read("172"), 172);
    EXPECT_EQ(read("-5"), -5);
    EXPECT_EQ(read("+7"), 7);
    EXPECT_EQ(read("2147483647"), INT32_MAX);
    EXPECT_EQ(read("-2147483648"), INT32_MIN);
    for (const char* bad : {"2147483648", "-2147483649", " 1", "1 ", "0x10", "abc", "-", "1e3"}) {
        EXPECT_THROW(read(bad), ConvertError) << bad;
    }
    auto node = Load("<config><nodes><node/></nodes></config>")->GetNodes()->GetNode(0);
    node->SetWidth(-172);
    node->SetIndex(INT32_MIN);
    EXPECT_EQ(Xml(*node), "<node Width=\"-172\" Index=\"-2147483648\"/>");
}

TEST_F(XmlTest, BooleanValueForms) {
    const auto read = [this](const char* text) {
        return Load("<config><nodes><node Visible=\"" + std::string(text) + "\"/></nodes></config>")
            ->GetNodes()
            ->GetNode(0)
            ->GetVisible();
    };
    for (const char* yes : {"True", "TRUE", "tRuE", "1", "-3", "99999999999"}) {
        EXPECT_TRUE(read(yes)) << yes;
    }
    for (const char* no : {"False", "false", "0", "000", "-0"}) {
        EXPECT_FALSE(read(no)) << no;
    }
    for (const char* bad : {"", "yes", "T", "1.0", "True "}) {
        EXPECT_THROW(read(bad), ConvertError) << bad;
    }
    // The trash choice reads the same forms, but a missing one is false and is not added.
    auto root = Load("<config versionNo=\"2\"/>");
    EXPECT_FALSE(root->GetTrash());
    EXPECT_EQ(Xml(*root), "<config versionNo=\"2\"/>");
    EXPECT_TRUE(Load("<config trash=\"tRuE\"/>")->GetTrash());
    EXPECT_THROW(Load("<config trash=\"\"/>")->GetTrash(), ConvertError);
    root->SetTrash(true);
    EXPECT_EQ(Xml(*root), "<config versionNo=\"2\" trash=\"True\"/>");

    auto node = Load("<config><nodes><node/></nodes></config>")->GetNodes()->GetNode(0);
    node->SetVisible(false);
    node->SetReadOnly(true);
    EXPECT_EQ(Xml(*node), "<node Visible=\"False\" ReadOnly=\"True\"/>");
}

TEST_F(XmlTest, SetterRewritesInPlaceOrAppends) {
    auto node =
        Load("<config><nodes><node Name=\"A\" Width=\"1\" Align=\"left\"/></nodes></config>")
            ->GetNodes()
            ->GetNode(0);
    node->SetWidth(90);
    node->SetIndex(3);
    node->SetName("B");
    EXPECT_EQ(Xml(*node), "<node Name=\"B\" Width=\"90\" Align=\"left\" Index=\"3\"/>");
}

TEST_F(XmlTest, TextRoundTripsUnicodeAndMarkup) {
    auto folder = Folders("<folder/>")->GetFolder(0);
    const QString path = QString::fromUtf8("/tmp/Z\u00fcrich \u65e5\u672c & <x> \"q\"\t");
    folder->SetFullpath(path);
    EXPECT_EQ(folder->GetFullpath(), path);
    EXPECT_EQ(Xml(*folder),
              "<folder fullpath=\"/tmp/Z\u00fcrich \u65e5\u672c &amp; &lt;x> "
              "&quot;q&quot;&#09;\"/>");
}

TEST_F(XmlTest, BindingsShareTheDocument) {
    auto root = Load("<config><folders><folder/></folders></config>");
    auto one = root->GetFolders()->GetFolder(0);
    auto other = root->GetFolders()->GetFolder(0);
    root.reset();  // a binding alone keeps the document alive
    one->SetExt("tmp");
    EXPECT_EQ(other->GetExt(), "tmp");
}

TEST_F(XmlTest, MissingChildListIsAppendedAtTheEnd) {
    // A processing instruction or a comment named like a list is no list.
    auto root = Load("<config><x/><?folders a?><!--folders--><?nodes b?><!--nodes--></config>");
    EXPECT_EQ(root->GetFolders()->GetCount(), 0);
    EXPECT_EQ(root->GetNodes()->GetCount(), 0);
    root->GetFolders()->Add()->SetName("f");
    EXPECT_EQ(root->GetFolders()->GetFolder(0)->GetName(), "f");
    EXPECT_EQ(Xml(*root),
              "<config><x/><?folders a?><!--folders--><?nodes b?><!--nodes-->"
              "<folders><folder name=\"f\"/></folders><nodes/></config>");
}

TEST_F(XmlTest, ItemsAreOnlyChildElementsOfTheItemTag) {
    auto folders = Folders("<note/><folder name=\"a\"/><!--c--><?folder pi?><folder name=\"b\"/>");
    ASSERT_EQ(folders->GetCount(), 2);
    EXPECT_EQ(folders->GetFolder(1)->GetName(), "b");
    auto item = std::dynamic_pointer_cast<IXMLFolderType>(folders->GetItem(0));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->GetName(), "a");
    for (int bad : {-1, 2}) {
        EXPECT_THROW(folders->GetFolder(bad), ListIndexError);
        EXPECT_THROW(folders->GetItem(bad), ListIndexError);
        EXPECT_THROW(folders->Delete(bad), ListIndexError);
    }
}

TEST_F(XmlTest, PositionsFollowChangesMadeThroughAnyBinding) {
    auto root = Load(
        "<config><folders><folder name=\"a\"/><note/><folder name=\"b\"/>"
        "<folder name=\"c\"/></folders></config>");
    auto folders = root->GetFolders();
    auto other = root->GetFolders();
    const auto name = [&folders](int i) { return folders->GetFolder(i)->GetName(); };
    EXPECT_EQ(name(0) + name(1) + name(2) + name(1) + name(0), "abcba");
    other->Delete(1);
    EXPECT_EQ(name(1), "c");
    other->Insert(0)->SetName("z");
    EXPECT_EQ(name(0) + name(2), "zc");
    other->Remove(other->GetFolder(0));
    EXPECT_EQ(name(1), "c");
    other->Clear();
    EXPECT_THROW(folders->GetFolder(0), ListIndexError);
    other->Add()->SetName("n");
    EXPECT_EQ(name(0), "n");
}

TEST_F(XmlTest, AddAppendsAndInsertCountsEveryChild) {
    auto folders = Folders("<folder name=\"a\"/><note/><folder name=\"b\"/>");
    folders->Insert(2)->SetName("i2");
    folders->Insert(0)->SetName("i0");
    folders->Add()->SetName("add");
    folders->Insert(-1)->SetName("end");
    folders->Insert(7)->SetName("past");  // one past the last child appends too
    EXPECT_THROW(folders->Insert(9), ListIndexError);
    EXPECT_THROW(folders->Insert(-2), ListIndexError);
    EXPECT_EQ(Xml(*folders),
              "<folders><folder name=\"i0\"/><folder name=\"a\"/><note/><folder name=\"i2\"/>"
              "<folder name=\"b\"/><folder name=\"add\"/><folder name=\"end\"/>"
              "<folder name=\"past\"/></folders>");
}

TEST_F(XmlTest, DeleteRemoveAndClearLeaveOtherChildren) {
    auto root = Load(
        "<config><nodes><node/></nodes><folders><folder name=\"a\"/><note/>"
        "<folder name=\"b\"/><folder name=\"c\"/></folders></config>");
    auto folders = root->GetFolders();
    EXPECT_EQ(folders->Remove(root->GetNodes()->GetNode(0)), -1);  // not an item here
    EXPECT_EQ(folders->Remove(nullptr), -1);
    auto b = folders->GetFolder(1);
    EXPECT_EQ(folders->Remove(b), 1);
    EXPECT_EQ(folders->Remove(b), -1);
    folders->Delete(0);
    EXPECT_EQ(Xml(*folders), "<folders><note/><folder name=\"c\"/></folders>");
    folders->Clear();
    EXPECT_EQ(Xml(*folders), "<folders><note/></folders>");
}

TEST_F(XmlTest, RemovedItemStaysUsableWhileHeld) {
    auto folders = Folders("");
    // Enough items to span many allocator pages: the held one lies in a page of its own that a
    // real removal would hand back to the heap, where the address sanitizer sees any later use.
    const QString longName(200, 'n');
    for (int i = 0; i < 2000; ++i) {
        folders->Add()->SetName(longName);
    }
    auto held = folders->GetFolder(1000);
    folders->Clear();
    held->SetExt("x");
    EXPECT_EQ(held->GetName(), longName);
    EXPECT_EQ(held->GetExt(), "x");
    EXPECT_EQ(folders->GetCount(), 0);
    EXPECT_EQ(Xml(*folders), "<folders/>");
}

}  // namespace
}  // namespace purgala
