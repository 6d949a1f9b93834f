#include "config/PurgalaConfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>

#include <QByteArray>
#include <QStringDecoder>
#include <QXmlStreamReader>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>

#include "config/AttributeValues.h"
#include "platform/Errors.h"
#include "platform/UniqueFd.h"

namespace purgala {

// The DOM and the bookkeeping that keeps removed elements safe to use. pugixml frees a removed
// node at once, yet a caller may still hold the binding of a removed item (`Remove` hands it
// back). Such an element is moved under a holder outside the root instead, where it stays
// readable and writable until its last binding goes; it is never written by a save, which prints
// the root only.
class TXMLDocument {
public:
    pugi::xml_document dom;

    // The item last reached by position in a collection. Reading a list in order then walks it
    // once instead of once per item. Only good until the next change of the tree's shape, all of
    // which go through the bindings and call Changed().
    struct Cursor {
        pugi::xml_node collection;
        const char* itemTag = nullptr;
        pugi::xml_node item;
        std::int32_t position = 0;
        std::uint64_t generation = 0;
    };
    Cursor cursor;
    std::uint64_t generation = 1;

    void Changed() { ++generation; }

    void Bind(pugi::xml_node element) { ++bindings_[element.internal_object()]; }

    void Unbind(pugi::xml_node element) {
        const auto it = bindings_.find(element.internal_object());
        if (it == bindings_.end() || --it->second > 0) {
            return;
        }
        bindings_.erase(it);
        if (detached_ && element.parent() == detached_) {
            Changed();
            detached_.remove_child(element);
        }
    }

    // Takes the element out of its parent.
    void Detach(pugi::xml_node element) {
        Changed();
        if (!bindings_.contains(element.internal_object())) {
            element.parent().remove_child(element);
            return;
        }
        if (!detached_) {
            detached_ = dom.append_child(pugi::node_element);
            if (!detached_) {
                throw std::bad_alloc();
            }
        }
        detached_.append_move(element);
    }

private:
    std::unordered_map<pugi::xml_node_struct*, int> bindings_;
    pugi::xml_node detached_;
};

namespace {

// Comments and processing instructions inside `config` are kept so that a save writes back what
// it did not change. Whitespace-only text is dropped (pugixml's default).
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_pi;

template <typename Handle>
Handle Checked(Handle handle) {
    // pugixml reports a failed allocation by an empty handle.
    if (!handle) {
        throw std::bad_alloc();
    }
    return handle;
}

class StringWriter : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override {
        text.append(static_cast<const char*>(data), size);
    }
    std::string text;
};

std::string Describe(const pugi::xml_node& element, const char* attribute, const char* value) {
    return std::string("attribute ") + attribute + " of <" + element.name() + ">: \"" + value +
           "\"";
}

}  // namespace

// ---- TXMLNode ---------------------------------------------------------------------------------

TXMLNode::TXMLNode(std::shared_ptr<TXMLDocument> document, pugi::xml_node element)
    : document_(std::move(document)), element_(element) {
    document_->Bind(element_);
}

TXMLNode::~TXMLNode() {
    document_->Unbind(element_);
}

QString TXMLNode::GetXML() const {
    StringWriter writer;
    element_.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
    return QString::fromStdString(writer.text);
}

pugi::xml_node TXMLNode::ChildElement(const char* name) {
    // Not element_.child(name): a processing instruction <?folders ...?> has that name too.
    for (const pugi::xml_node child : element_.children()) {
        if (child.type() == pugi::node_element && std::strcmp(child.name(), name) == 0) {
            return child;
        }
    }
    document_->Changed();
    return Checked(element_.append_child(name));
}

namespace {

pugi::xml_attribute AttributeOf(pugi::xml_node element, const char* name) {
    if (const pugi::xml_attribute attribute = element.attribute(name)) {
        return attribute;
    }
    // Reading a missing attribute adds it, empty, so that the next save writes it.
    return Checked(element.append_attribute(name));
}

}  // namespace

QString TXMLNode::GetText(const char* attribute) {
    return QString::fromUtf8(AttributeOf(element_, attribute).value());
}

std::int32_t TXMLNode::GetInteger(const char* attribute) {
    const char* value = AttributeOf(element_, attribute).value();
    if (const auto number = ParseInt32(value)) {
        return *number;
    }
    throw ConvertError("not an integer: " + Describe(element_, attribute, value));
}

bool TXMLNode::GetBoolean(const char* attribute) {
    const char* value = AttributeOf(element_, attribute).value();
    if (const auto flag = ParseBoolean(value)) {
        return *flag;
    }
    throw ConvertError("not a boolean: " + Describe(element_, attribute, value));
}

void TXMLNode::SetText(const char* attribute, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    if (!AttributeOf(element_, attribute).set_value(utf8.constData(), utf8.size())) {
        throw std::bad_alloc();
    }
}

void TXMLNode::SetInteger(const char* attribute, std::int32_t value) {
    const std::string text = std::to_string(value);
    if (!AttributeOf(element_, attribute).set_value(text.c_str())) {
        throw std::bad_alloc();
    }
}

void TXMLNode::SetBoolean(const char* attribute, bool value) {
    if (!AttributeOf(element_, attribute).set_value(value ? "True" : "False")) {
        throw std::bad_alloc();
    }
}

bool TXMLNode::HasAttribute(const char* attribute) const {
    return static_cast<bool>(element_.attribute(attribute));
}

void TXMLNode::RemoveAttribute(const char* attribute) {
    element_.remove_attribute(attribute);
}

// ---- TXMLNodeCollection -----------------------------------------------------------------------

TXMLNodeCollection::TXMLNodeCollection(std::shared_ptr<TXMLDocument> document,
                                       pugi::xml_node element, const char* itemTag)
    : TXMLNode(std::move(document), element), itemTag_(itemTag) {}

bool TXMLNodeCollection::IsItem(pugi::xml_node node) const {
    // A processing instruction has a name too; only elements are items.
    return node.type() == pugi::node_element && std::strcmp(node.name(), itemTag_) == 0;
}

std::int32_t TXMLNodeCollection::GetCount() const {
    std::int32_t count = 0;
    for (const pugi::xml_node child : Element().children()) {
        count += IsItem(child) ? 1 : 0;
    }
    return count;
}

pugi::xml_node TXMLNodeCollection::ItemAt(std::int32_t index) const {
    if (index >= 0) {
        TXMLDocument::Cursor& cursor = Document()->cursor;
        pugi::xml_node child = Element().first_child();
        std::int32_t position = 0;
        if (cursor.generation == Document()->generation && cursor.collection == Element() &&
            cursor.itemTag == itemTag_ && cursor.position <= index) {
            child = cursor.item;
            position = cursor.position;
        }
        for (; child; child = child.next_sibling()) {
            if (!IsItem(child)) {
                continue;
            }
            if (position == index) {
                cursor = {Element(), itemTag_, child, position, Document()->generation};
                return child;
            }
            ++position;
        }
    }
    throw ListIndexError("list index out of bounds (" + std::to_string(index) + ")");
}

std::shared_ptr<IXMLNode> TXMLNodeCollection::GetItem(std::int32_t index) const {
    return BindItem(ItemAt(index));
}

void TXMLNodeCollection::Clear() {
    for (;;) {
        pugi::xml_node first;
        for (const pugi::xml_node child : Element().children()) {
            if (IsItem(child)) {
                first = child;
                break;
            }
        }
        if (!first) {
            return;
        }
        Document()->Detach(first);
    }
}

void TXMLNodeCollection::Delete(std::int32_t index) {
    Document()->Detach(ItemAt(index));
}

std::int32_t TXMLNodeCollection::Remove(const std::shared_ptr<IXMLNode>& item) {
    const auto* bound = dynamic_cast<const TXMLNode*>(item.get());
    if (bound == nullptr) {
        return -1;
    }
    std::int32_t position = 0;
    for (const pugi::xml_node child : Element().children()) {
        if (!IsItem(child)) {
            continue;
        }
        if (child == bound->Element()) {
            Document()->Detach(child);
            return position;
        }
        ++position;
    }
    return -1;
}

pugi::xml_node TXMLNodeCollection::AddItem() {
    Document()->Changed();
    return Checked(Element().append_child(itemTag_));
}

pugi::xml_node TXMLNodeCollection::InsertItem(std::int32_t childIndex) {
    if (childIndex == -1) {
        return AddItem();
    }
    if (childIndex >= 0) {
        std::int32_t position = 0;
        for (const pugi::xml_node child : Element().children()) {
            if (position++ == childIndex) {
                Document()->Changed();
                return Checked(Element().insert_child_before(itemTag_, child));
            }
        }
        if (position == childIndex) {
            return AddItem();
        }
    }
    throw ListIndexError("list index out of bounds (" + std::to_string(childIndex) + ")");
}

// ---- TXMLNodeType -----------------------------------------------------------------------------

QString TXMLNodeType::GetName() {
    return GetText("Name");
}
bool TXMLNodeType::GetVisible() {
    return GetBoolean("Visible");
}
std::int32_t TXMLNodeType::GetIndex() {
    return GetInteger("Index");
}
bool TXMLNodeType::GetDefaultExport() {
    return GetBoolean("DefaultExport");
}
std::int32_t TXMLNodeType::GetWidth() {
    return GetInteger("Width");
}
bool TXMLNodeType::GetReadOnly() {
    return GetBoolean("ReadOnly");
}
QString TXMLNodeType::GetAlign() {
    return GetText("Align");
}
void TXMLNodeType::SetName(const QString& value) {
    SetText("Name", value);
}
void TXMLNodeType::SetVisible(bool value) {
    SetBoolean("Visible", value);
}
void TXMLNodeType::SetIndex(std::int32_t value) {
    SetInteger("Index", value);
}
void TXMLNodeType::SetDefaultExport(bool value) {
    SetBoolean("DefaultExport", value);
}
void TXMLNodeType::SetWidth(std::int32_t value) {
    SetInteger("Width", value);
}
void TXMLNodeType::SetReadOnly(bool value) {
    SetBoolean("ReadOnly", value);
}
void TXMLNodeType::SetAlign(const QString& value) {
    SetText("Align", value);
}

// ---- TXMLNodesType ----------------------------------------------------------------------------

TXMLNodesType::TXMLNodesType(std::shared_ptr<TXMLDocument> document, pugi::xml_node element)
    : TXMLNodeCollection(std::move(document), element, "node") {}

std::shared_ptr<IXMLNode> TXMLNodesType::BindItem(pugi::xml_node item) const {
    return std::make_shared<TXMLNodeType>(Document(), item);
}

std::shared_ptr<IXMLNodeType> TXMLNodesType::GetNode(std::int32_t index) const {
    return std::make_shared<TXMLNodeType>(Document(), ItemAt(index));
}

std::shared_ptr<IXMLNodeType> TXMLNodesType::Add() {
    return std::make_shared<TXMLNodeType>(Document(), AddItem());
}

std::shared_ptr<IXMLNodeType> TXMLNodesType::Insert(std::int32_t index) {
    return std::make_shared<TXMLNodeType>(Document(), InsertItem(index));
}

// ---- TXMLFolderType ---------------------------------------------------------------------------

QString TXMLFolderType::GetName() {
    return GetText("name");
}
QString TXMLFolderType::GetFullpath() {
    return GetText("fullpath");
}
std::int32_t TXMLFolderType::GetOptions() {
    return GetInteger("options");
}
QString TXMLFolderType::GetExt() {
    return GetText("ext");
}
void TXMLFolderType::SetName(const QString& value) {
    SetText("name", value);
}
void TXMLFolderType::SetFullpath(const QString& value) {
    SetText("fullpath", value);
}
void TXMLFolderType::SetOptions(std::int32_t value) {
    SetInteger("options", value);
}
void TXMLFolderType::SetExt(const QString& value) {
    SetText("ext", value);
}
std::int32_t TXMLFolderType::GetAge() {
    if (!HasAttribute("age")) {
        return 0;
    }
    const QString text = GetText("age");
    if (const auto days = AgeDaysOf(text)) {
        return *days;
    }
    throw ConvertError("not a whole number of days: " +
                       Describe(Element(), "age", text.toUtf8().constData()));
}
void TXMLFolderType::SetAge(std::int32_t value) {
    if (value > 0) {
        SetInteger("age", value);
    } else {
        RemoveAttribute("age");
    }
}
QString TXMLFolderType::GetAgeText() {
    return HasAttribute("age") ? GetText("age") : QString();
}
void TXMLFolderType::SetAgeText(const QString& value) {
    if (value.isEmpty()) {
        RemoveAttribute("age");
    } else {
        SetText("age", value);
    }
}
QString TXMLFolderType::GetKeep() {
    return HasAttribute("keep") ? GetText("keep") : QString();
}
void TXMLFolderType::SetKeep(const QString& value) {
    if (value.isEmpty()) {
        RemoveAttribute("keep");
    } else {
        SetText("keep", value);
    }
}

// ---- TXMLFoldersType --------------------------------------------------------------------------

TXMLFoldersType::TXMLFoldersType(std::shared_ptr<TXMLDocument> document, pugi::xml_node element)
    : TXMLNodeCollection(std::move(document), element, "folder") {}

std::shared_ptr<IXMLNode> TXMLFoldersType::BindItem(pugi::xml_node item) const {
    return std::make_shared<TXMLFolderType>(Document(), item);
}

std::shared_ptr<IXMLFolderType> TXMLFoldersType::GetFolder(std::int32_t index) const {
    return std::make_shared<TXMLFolderType>(Document(), ItemAt(index));
}

std::shared_ptr<IXMLFolderType> TXMLFoldersType::Add() {
    return std::make_shared<TXMLFolderType>(Document(), AddItem());
}

std::shared_ptr<IXMLFolderType> TXMLFoldersType::Insert(std::int32_t index) {
    return std::make_shared<TXMLFolderType>(Document(), InsertItem(index));
}

// ---- TXMLConfigType ---------------------------------------------------------------------------

std::int32_t TXMLConfigType::GetVersionNo() {
    return GetInteger("versionNo");
}

std::shared_ptr<IXMLNodesType> TXMLConfigType::GetNodes() {
    return std::make_shared<TXMLNodesType>(Document(), ChildElement("nodes"));
}

std::shared_ptr<IXMLFoldersType> TXMLConfigType::GetFolders() {
    return std::make_shared<TXMLFoldersType>(Document(), ChildElement("folders"));
}

bool TXMLConfigType::GetTrash() {
    return Element().attribute("trash") ? GetBoolean("trash") : false;
}

void TXMLConfigType::SetVersionNo(std::int32_t value) {
    SetInteger("versionNo", value);
}

void TXMLConfigType::SetTrash(bool value) {
    SetBoolean("trash", value);
}

// ---- Loading ----------------------------------------------------------------------------------

namespace {

// `how` says by how much: "9000000000 bytes, more than".
[[noreturn]] void FailTooLarge(const std::string& path, const std::string& how) {
    throw ParseError(path + ": " + how + " the " + std::to_string(kMaxConfigFileBytes >> 20) +
                     " MiB (" + std::to_string(kMaxConfigFileBytes) +
                     " bytes) a configuration file may have; it is left as it is");
}

// The whole file, read by its exact bytes: its name need not be valid UTF-8. A file above the
// bound is refused by its size before anything is read.
QByteArray ReadWholeFile(const std::string& path) {
    const auto fail = [&path] { throw ParseError(path + ": " + std::strerror(errno)); };
    const TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!fd.Valid() || ::fstat(fd.Get(), &status) != 0) {
        fail();
    }
    if (status.st_size > kMaxConfigFileBytes) {
        FailTooLarge(path, std::to_string(status.st_size) + " bytes, more than");
    }
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(status.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got == 0) {
            return bytes;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail();
        }
        // The file grew since, or is not one that tells its size.
        if (bytes.size() + got > kMaxConfigFileBytes) {
            FailTooLarge(path, "grown while being read beyond");
        }
        bytes.append(buffer, got);
    }
}

bool IsUnicodeEncodingName(const QString& name) {
    return name.isEmpty() || name.startsWith(QLatin1String("utf"), Qt::CaseInsensitive);
}

// pugixml is lenient: it takes an undeclared entity, a raw "&" in a value, a duplicate attribute,
// a second declaration and more, and the next save would write them changed. Qt's stream reader
// is a conforming parser, so it judges the bytes first. Returns the declared encoding.
QString CheckWellFormed(const QByteArray& bytes, const std::string& name) {
    const auto unicode = QStringConverter::encodingForData(bytes, u'<');
    // In a byte-wide encoding a NUL can only be a NUL character, which XML forbids.
    if (!unicode || *unicode == QStringConverter::Utf8) {
        if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0) {
            throw ParseError(name + ": NUL byte at offset " + std::to_string(nul));
        }
    }
    QXmlStreamReader reader(bytes);
    // Prefixes are parts of plain names here, as they are to pugixml.
    reader.setNamespaceProcessing(false);
    QString encoding;
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartDocument) {
            encoding = reader.documentEncoding().toString();
        }
    }
    if (reader.hasError()) {
        throw ParseError(name + ": " + reader.errorString().toStdString() + " (line " +
                         std::to_string(reader.lineNumber()) + ", column " +
                         std::to_string(reader.columnNumber()) + ")");
    }
    return encoding;
}

}  // namespace

std::shared_ptr<IXMLConfigType> LoadConfigDocument(const std::string& fileName) {
    QByteArray bytes = ReadWholeFile(fileName);
    const QString encoding = CheckWellFormed(bytes, fileName);

    // pugixml reads the Unicode forms itself (a byte-order mark decides over the declaration);
    // any other declared encoding is decoded here.
    pugi::xml_encoding form = pugi::encoding_auto;
    if (!QStringConverter::encodingForData(bytes, u'<') && !IsUnicodeEncodingName(encoding)) {
        QStringDecoder decoder(encoding.toLatin1().constData());
        if (!decoder.isValid()) {
            throw ParseError(fileName + ": encoding " + encoding.toStdString() +
                             " is not supported");
        }
        const QString text = decoder.decode(bytes);
        if (decoder.hasError()) {
            throw ParseError(fileName + ": bytes that are not " + encoding.toStdString());
        }
        bytes = text.toUtf8();
        form = pugi::encoding_utf8;
    }

    auto document = std::make_shared<TXMLDocument>();
    const pugi::xml_parse_result result = document->dom.load_buffer(
        bytes.constData(), static_cast<std::size_t>(bytes.size()), kParseOptions, form);
    if (!result) {
        throw ParseError(fileName + ": " + result.description() + " at offset " +
                         std::to_string(result.offset));
    }

    const pugi::xml_node root = document->dom.document_element();
    const bool inNoNamespace = *root.attribute("xmlns").value() == '\0';
    if (std::strcmp(root.name(), "config") != 0 || !inNoNamespace) {
        throw InterfaceError(fileName + ": root element <" + root.name() +
                             "> does not offer IXMLConfigType");
    }
    return std::make_shared<TXMLConfigType>(std::move(document), root);
}

}  // namespace purgala
