#pragma once
// The XML document service: load, query (XPath 1.0), build and save small documents.
// This is the only place that knows the XML library.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pugi { struct xml_node_struct; struct xml_document; }

namespace kvo::xml {

class XmlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An element of a Document; a default-constructed Node is "no node". A Node stays valid as
// long as its document lives and the element is not removed.
class Node {
public:
    Node() = default;
    explicit operator bool() const { return node_ != nullptr; }

    std::string name() const;
    // The attribute's text, or nullopt when the element has no such attribute.
    std::optional<std::string> attribute(const std::string& name) const;
    // Sets the attribute: replaces the value of an existing one in place, else appends it last.
    void setAttribute(const std::string& name, const std::string& value);
    // Appends a new child element and returns it.
    Node appendElement(const std::string& name);
    // Appends a deep copy (attributes and descendants) of `source`, which may belong to
    // another document; returns the copy.
    Node appendCopy(const Node& source);
    // XPath 1.0 relative to this element: the first match in document order, or no node.
    // An expression that does not parse gives no node / an empty list.
    Node selectSingleNode(const std::string& xpath) const;
    std::vector<Node> selectNodes(const std::string& xpath) const;
    std::vector<Node> childElements() const;

private:
    friend class Document;
    explicit Node(pugi::xml_node_struct* node) : node_(node) {}
    pugi::xml_node_struct* node_ = nullptr;
};

class Document {
public:
    Document();
    ~Document();
    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Loads the file. A missing, unreadable or ill-formed file leaves an empty document and
    // gives false.
    bool load(const std::string& path);
    bool loadText(const std::string& text);
    // The serialised document (UTF-8, no declaration, no added white space); "" when empty.
    std::string xml() const;
    // Writes xml() to `path` whole: a temporary file in the same folder renamed over the
    // target. Throws XmlError when it cannot.
    void save(const std::string& path) const;

    Node documentElement() const;
    // Appends the document element (throws XmlError when there already is one).
    Node appendElement(const std::string& name);
    Node appendCopy(const Node& source);
    // XPath 1.0 relative to the document node.
    Node selectSingleNode(const std::string& xpath) const;
    std::vector<Node> selectNodes(const std::string& xpath) const;

private:
    pugi::xml_document* doc_;
};

}  // namespace kvo::xml
