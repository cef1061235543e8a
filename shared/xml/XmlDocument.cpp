#include "shared/xml/XmlDocument.h"

#include "shared/platform/FileSearch.h"

#include <pugixml.hpp>

#include <algorithm>
#include <sstream>
#include <utility>

namespace kvo::xml {

namespace {

// Element results of an XPath query in document order. Attribute and text results are left
// out: the callers only ever select elements. A query that does not compile selects nothing.
std::vector<pugi::xml_node> SelectElements(const pugi::xml_node& context, const std::string& xpath) {
    std::vector<pugi::xml_node> elements;
    if (!context) return elements;
    try {
        pugi::xpath_node_set found = context.select_nodes(xpath.c_str());
        found.sort();
        for (const pugi::xpath_node& hit : found) {
            if (!hit.attribute() && hit.node().type() == pugi::node_element) elements.push_back(hit.node());
        }
    } catch (const pugi::xpath_exception&) {
        elements.clear();
    }
    return elements;
}

int ElementChildCount(const pugi::xml_node& node) {
    int count = 0;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element) ++count;
    }
    return count;
}

// A document is complete when it parsed and has exactly one document element; pugixml
// itself would accept several top-level elements.
bool Accept(pugi::xml_document& doc, const pugi::xml_parse_result& result) {
    if (result && ElementChildCount(doc) == 1) return true;
    doc.reset();
    return false;
}

}  // namespace

// ---- Node ----

std::string Node::name() const { return node_ ? pugi::xml_node(node_).name() : ""; }

std::optional<std::string> Node::attribute(const std::string& name) const {
    if (!node_) return std::nullopt;
    pugi::xml_attribute attr = pugi::xml_node(node_).attribute(name.c_str());
    if (!attr) return std::nullopt;
    return std::string(attr.value());
}

void Node::setAttribute(const std::string& name, const std::string& value) {
    if (!node_) throw XmlError("cannot set attribute \"" + name + "\" on no node");
    pugi::xml_node node(node_);
    pugi::xml_attribute attr = node.attribute(name.c_str());
    if (!attr) attr = node.append_attribute(name.c_str());
    if (!attr || !attr.set_value(value.c_str())) throw XmlError("cannot set attribute \"" + name + "\"");
}

Node Node::appendElement(const std::string& name) {
    pugi::xml_node child = pugi::xml_node(node_).append_child(name.c_str());
    if (!child) throw XmlError("cannot append element \"" + name + "\"");
    return Node(child.internal_object());
}

Node Node::appendCopy(const Node& source) {
    pugi::xml_node copy = pugi::xml_node(node_).append_copy(pugi::xml_node(source.node_));
    if (!copy) throw XmlError("cannot append a copy of \"" + source.name() + "\"");
    return Node(copy.internal_object());
}

Node Node::selectSingleNode(const std::string& xpath) const {
    std::vector<pugi::xml_node> found = SelectElements(pugi::xml_node(node_), xpath);
    return found.empty() ? Node() : Node(found.front().internal_object());
}

std::vector<Node> Node::selectNodes(const std::string& xpath) const {
    std::vector<Node> nodes;
    for (const pugi::xml_node& element : SelectElements(pugi::xml_node(node_), xpath)) {
        nodes.push_back(Node(element.internal_object()));
    }
    return nodes;
}

std::vector<Node> Node::childElements() const {
    std::vector<Node> children;
    if (!node_) return children;
    for (pugi::xml_node child : pugi::xml_node(node_).children()) {
        if (child.type() == pugi::node_element) children.push_back(Node(child.internal_object()));
    }
    return children;
}

// ---- Document ----

Document::Document() : doc_(new pugi::xml_document) {}

Document::~Document() { delete doc_; }

// A moved-from document may only be destroyed or assigned to.
Document::Document(Document&& other) noexcept : doc_(std::exchange(other.doc_, nullptr)) {}

Document& Document::operator=(Document&& other) noexcept {
    std::swap(doc_, other.doc_);
    return *this;
}

bool Document::load(const std::string& path) {
    return Accept(*doc_, doc_->load_file(path.c_str()));
}

bool Document::loadText(const std::string& text) {
    return Accept(*doc_, doc_->load_buffer(text.data(), text.size()));
}

std::string Document::xml() const {
    std::ostringstream text;
    doc_->save(text, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return text.str();
}

void Document::save(const std::string& path) const {
    try {
        WriteFileAtomically(path, xml());
    } catch (const std::exception& error) {
        throw XmlError("cannot save " + path + ": " + error.what());
    }
}

Node Document::documentElement() const { return Node(doc_->document_element().internal_object()); }

Node Document::appendElement(const std::string& name) {
    if (documentElement()) throw XmlError("the document already has a document element");
    return Node(doc_->internal_object()).appendElement(name);
}

Node Document::appendCopy(const Node& source) {
    if (documentElement()) throw XmlError("the document already has a document element");
    return Node(doc_->internal_object()).appendCopy(source);
}

Node Document::selectSingleNode(const std::string& xpath) const {
    return Node(doc_->internal_object()).selectSingleNode(xpath);
}

std::vector<Node> Document::selectNodes(const std::string& xpath) const {
    return Node(doc_->internal_object()).selectNodes(xpath);
}

}  // namespace kvo::xml
