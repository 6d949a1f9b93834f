#pragma once
// Typed binding over the configuration document: one object per element, reference counted, all
// sharing the one DOM. Objects hold no values: a getter reads the DOM and a setter writes it, so a
// change through one reference is seen at once through every other.

#include <QString>
#include <cstdint>
#include <memory>
#include <pugixml.hpp>
#include <string_view>

namespace purgala {

class IXMLNode;
class IXMLNodeType;
class IXMLNodesType;
class IXMLFolderType;
class IXMLFoldersType;
class IXMLConfigType;

// ---- Interfaces -------------------------------------------------------------------------------

// One element of the document.
class IXMLNode {
public:
    virtual ~IXMLNode() = default;
    // The element's markup with everything inside it, without an XML declaration.
    virtual QString GetXML() const = 0;
};

// An element whose items are its child elements of one tag. Positions count items only, from 0.
class IXMLNodeCollection : public virtual IXMLNode {
public:
    virtual std::int32_t GetCount() const = 0;
    // The item bound to its typed class; ListIndexError outside 0..GetCount()-1.
    virtual std::shared_ptr<IXMLNode> GetItem(std::int32_t index) const = 0;
    virtual void Clear() = 0;
    // ListIndexError outside 0..GetCount()-1.
    virtual void Delete(std::int32_t index) = 0;
    // The position the item had, or -1 when it was not an item of this collection.
    virtual std::int32_t Remove(const std::shared_ptr<IXMLNode>& item) = 0;
};

// `node`: one column of the result grid.
class IXMLNodeType : public virtual IXMLNode {
public:
    virtual QString GetName() = 0;
    virtual bool GetVisible() = 0;
    virtual std::int32_t GetIndex() = 0;
    virtual bool GetDefaultExport() = 0;
    virtual std::int32_t GetWidth() = 0;
    virtual bool GetReadOnly() = 0;
    virtual QString GetAlign() = 0;
    virtual void SetName(const QString& value) = 0;
    virtual void SetVisible(bool value) = 0;
    virtual void SetIndex(std::int32_t value) = 0;
    virtual void SetDefaultExport(bool value) = 0;
    virtual void SetWidth(std::int32_t value) = 0;
    virtual void SetReadOnly(bool value) = 0;
    virtual void SetAlign(const QString& value) = 0;
};

// `nodes`: the grid's columns; a column's number is its position.
class IXMLNodesType : public virtual IXMLNodeCollection {
public:
    virtual std::shared_ptr<IXMLNodeType> GetNode(std::int32_t index) const = 0;
    virtual std::shared_ptr<IXMLNodeType> Add() = 0;
    // `index` counts every child of `nodes`, items or not; -1 appends.
    virtual std::shared_ptr<IXMLNodeType> Insert(std::int32_t index) = 0;
};

// `folder`: one folder to check and the extension to look for.
class IXMLFolderType : public virtual IXMLNode {
public:
    virtual QString GetName() = 0;
    virtual QString GetFullpath() = 0;
    virtual std::int32_t GetOptions() = 0;
    virtual QString GetExt() = 0;
    virtual void SetName(const QString& value) = 0;
    virtual void SetFullpath(const QString& value) = 0;
    virtual void SetOptions(std::int32_t value) = 0;
    virtual void SetExt(const QString& value) = 0;
    // `age`, which only a folder with an age rule carries: files changed fewer days ago than
    // this are left unchecked. Reading it never adds it. GetAge gives 0 when it is absent and
    // fails with ConvertError when it is no whole number of days (AgeDaysOf); SetAge below 1
    // removes it.
    virtual std::int32_t GetAge() = 0;
    virtual void SetAge(std::int32_t value) = 0;
    // The same attribute as written, for keeping a value that is no number: empty when absent,
    // and an empty text removes it.
    virtual QString GetAgeText() = 0;
    virtual void SetAgeText(const QString& value) = 0;
    // `keep`, the patterns of what the scan leaves alone (see scan/KeepPatterns.h), which only a
    // folder with some carries: reading it never adds it, and an empty text removes it.
    virtual QString GetKeep() = 0;
    virtual void SetKeep(const QString& value) = 0;
};

// `folders`: the folders to check, in scan order.
class IXMLFoldersType : public virtual IXMLNodeCollection {
public:
    virtual std::shared_ptr<IXMLFolderType> GetFolder(std::int32_t index) const = 0;
    virtual std::shared_ptr<IXMLFolderType> Add() = 0;
    // `index` counts every child of `folders`, items or not; -1 appends.
    virtual std::shared_ptr<IXMLFolderType> Insert(std::int32_t index) = 0;
};

// `config`: the root.
class IXMLConfigType : public virtual IXMLNode {
public:
    virtual std::int32_t GetVersionNo() = 0;
    virtual std::shared_ptr<IXMLNodesType> GetNodes() = 0;
    virtual std::shared_ptr<IXMLFoldersType> GetFolders() = 0;
    // Whether "&Delete" moves files to the trash. Unlike the other getters, a missing `trash`
    // reads as false and is not added: a document that never had the choice is saved unchanged.
    virtual bool GetTrash() = 0;
    virtual void SetVersionNo(std::int32_t value) = 0;
    virtual void SetTrash(bool value) = 0;
};

// ---- Implementation ---------------------------------------------------------------------------

// The loaded DOM together with what its bindings need to share (defined in the .cpp file).
class TXMLDocument;

// Binding of one element. Attribute getters append a missing attribute with an empty value;
// setters rewrite an attribute in place or append it.
class TXMLNode : public virtual IXMLNode {
public:
    TXMLNode(std::shared_ptr<TXMLDocument> document, pugi::xml_node element);
    ~TXMLNode() override;
    TXMLNode(const TXMLNode&) = delete;
    TXMLNode& operator=(const TXMLNode&) = delete;

    QString GetXML() const override;
    pugi::xml_node Element() const { return element_; }

protected:
    const std::shared_ptr<TXMLDocument>& Document() const { return document_; }
    // The first child element of that name, appended when there is none.
    pugi::xml_node ChildElement(const char* name);

    QString GetText(const char* attribute);
    std::int32_t GetInteger(const char* attribute);
    bool GetBoolean(const char* attribute);
    void SetText(const char* attribute, const QString& value);
    void SetInteger(const char* attribute, std::int32_t value);
    void SetBoolean(const char* attribute, bool value);
    // For attributes that only some documents carry, which a read must not add.
    bool HasAttribute(const char* attribute) const;
    void RemoveAttribute(const char* attribute);

private:
    std::shared_ptr<TXMLDocument> document_;
    pugi::xml_node element_;
};

// Binding of an element whose items are its child elements named `itemTag`. Derived classes say
// which class binds an item.
class TXMLNodeCollection : public TXMLNode, public virtual IXMLNodeCollection {
public:
    TXMLNodeCollection(std::shared_ptr<TXMLDocument> document, pugi::xml_node element,
                       const char* itemTag);

    std::int32_t GetCount() const override;
    std::shared_ptr<IXMLNode> GetItem(std::int32_t index) const override;
    void Clear() override;
    void Delete(std::int32_t index) override;
    std::int32_t Remove(const std::shared_ptr<IXMLNode>& item) override;

protected:
    virtual std::shared_ptr<IXMLNode> BindItem(pugi::xml_node item) const = 0;
    pugi::xml_node ItemAt(std::int32_t index) const;  // ListIndexError when out of range
    pugi::xml_node AddItem();
    pugi::xml_node InsertItem(std::int32_t childIndex);

private:
    bool IsItem(pugi::xml_node node) const;
    const char* itemTag_;
};

class TXMLNodeType : public TXMLNode, public IXMLNodeType {
public:
    using TXMLNode::TXMLNode;

    QString GetName() override;
    bool GetVisible() override;
    std::int32_t GetIndex() override;
    bool GetDefaultExport() override;
    std::int32_t GetWidth() override;
    bool GetReadOnly() override;
    QString GetAlign() override;
    void SetName(const QString& value) override;
    void SetVisible(bool value) override;
    void SetIndex(std::int32_t value) override;
    void SetDefaultExport(bool value) override;
    void SetWidth(std::int32_t value) override;
    void SetReadOnly(bool value) override;
    void SetAlign(const QString& value) override;
};

class TXMLNodesType : public TXMLNodeCollection, public IXMLNodesType {
public:
    TXMLNodesType(std::shared_ptr<TXMLDocument> document, pugi::xml_node element);

    std::shared_ptr<IXMLNodeType> GetNode(std::int32_t index) const override;
    std::shared_ptr<IXMLNodeType> Add() override;
    std::shared_ptr<IXMLNodeType> Insert(std::int32_t index) override;

protected:
    std::shared_ptr<IXMLNode> BindItem(pugi::xml_node item) const override;
};

class TXMLFolderType : public TXMLNode, public IXMLFolderType {
public:
    using TXMLNode::TXMLNode;

    QString GetName() override;
    QString GetFullpath() override;
    std::int32_t GetOptions() override;
    QString GetExt() override;
    void SetName(const QString& value) override;
    void SetFullpath(const QString& value) override;
    void SetOptions(std::int32_t value) override;
    void SetExt(const QString& value) override;
    std::int32_t GetAge() override;
    void SetAge(std::int32_t value) override;
    QString GetAgeText() override;
    void SetAgeText(const QString& value) override;
    QString GetKeep() override;
    void SetKeep(const QString& value) override;
};

class TXMLFoldersType : public TXMLNodeCollection, public IXMLFoldersType {
public:
    TXMLFoldersType(std::shared_ptr<TXMLDocument> document, pugi::xml_node element);

    std::shared_ptr<IXMLFolderType> GetFolder(std::int32_t index) const override;
    std::shared_ptr<IXMLFolderType> Add() override;
    std::shared_ptr<IXMLFolderType> Insert(std::int32_t index) override;

protected:
    std::shared_ptr<IXMLNode> BindItem(pugi::xml_node item) const override;
};

class TXMLConfigType : public TXMLNode, public IXMLConfigType {
public:
    using TXMLNode::TXMLNode;

    std::int32_t GetVersionNo() override;
    std::shared_ptr<IXMLNodesType> GetNodes() override;
    std::shared_ptr<IXMLFoldersType> GetFolders() override;
    bool GetTrash() override;
    void SetVersionNo(std::int32_t value) override;
    void SetTrash(bool value) override;
};

// Parses the file (named by its file-system bytes) and binds its root. The declared encoding
// decides how the bytes read. ParseError, carrying the parser's reason, when the file cannot be
// read, is not well-formed XML, declares an encoding that cannot be decoded or holds bytes that
// do not fit it, or is larger than kMaxConfigFileBytes (refused before a byte is read, naming the
// file and its size); InterfaceError when the root is not `config` in no namespace.
std::shared_ptr<IXMLConfigType> LoadConfigDocument(const std::string& fileName);

// A few dozen folders take a few kilobytes; this bound stops a huge file from taking the memory
// of the machine (a document in memory takes several times its size).
inline constexpr std::int64_t kMaxConfigFileBytes = std::int64_t{64} << 20;

}  // namespace purgala
