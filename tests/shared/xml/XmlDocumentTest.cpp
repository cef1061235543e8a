#include "shared/xml/XmlDocument.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace kvo::xml {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;
namespace fs = std::filesystem;

std::vector<std::string> Attr(const std::vector<Node>& nodes, const std::string& name) {
    std::vector<std::string> values;
    for (const Node& node : nodes) values.push_back(node.attribute(name).value_or("<absent>"));
    return values;
}

TEST(XmlDocument, MissingTruncatedOrIllFormedFileLeavesAnEmptyDocument) {
    ScratchDir dir;
    Document doc;
    EXPECT_FALSE(doc.load((dir / "missing.xml").string()));
    EXPECT_EQ(doc.xml(), "");
    EXPECT_FALSE(doc.documentElement());

    WriteFile(dir / "cut.xml", "<KVO><File name=\"/a/b.tif\" processed=\"0\"/><File na");
    ASSERT_TRUE(doc.loadText("<KVO/>"));
    EXPECT_FALSE(doc.load((dir / "cut.xml").string()));
    EXPECT_EQ(doc.xml(), "") << "a failed load must not keep the previous content";

    for (const char* bad : {"", "   ", "<a/><b/>", "just text", "<a><b></a>"}) {
        EXPECT_FALSE(doc.loadText(bad)) << bad;
        EXPECT_EQ(doc.xml(), "") << bad;
        EXPECT_TRUE(doc.selectNodes("*").empty());
        EXPECT_FALSE(doc.selectSingleNode("KVO"));
    }
}

TEST(XmlDocument, SerialisesWithoutDeclarationOrAddedWhiteSpace) {
    Document doc;
    ASSERT_TRUE(doc.loadText("<?xml version=\"1.0\"?>\n<KVO>\n  <File name=\"a &amp; b\" processed=\"0\"/>\n</KVO>\n"));
    EXPECT_EQ(doc.xml(), "<KVO><File name=\"a &amp; b\" processed=\"0\"/></KVO>");
}

TEST(XmlDocument, XPathIsRelativeFindsInDocumentOrderAndComparesNumbers) {
    Document doc;
    ASSERT_TRUE(doc.loadText(
        "<page><line top='120' id='b'><word/></line><line top='95' id='a'/>"
        "<group><line top='300' id='c'/></group></page>"));
    Node page = doc.selectSingleNode("page");
    ASSERT_TRUE(page);
    EXPECT_EQ(page.name(), "page");
    EXPECT_EQ(Attr(page.selectNodes("line"), "id"), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(Attr(page.selectNodes(".//line[@top > 100]"), "id"), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(Attr(doc.selectNodes("page/line[@top < 100]"), "id"), (std::vector<std::string>{"a"}));
    EXPECT_EQ(page.selectSingleNode(".//line[@top >= 200]").attribute("id"), "c");
    EXPECT_EQ(page.selectSingleNode("line[@id='a']").attribute("top"), "95");

    // No match, a bad expression, or a result that is not an element: no node, never an error.
    EXPECT_FALSE(page.selectSingleNode("nothing"));
    EXPECT_TRUE(page.selectNodes("line[@top > 1000]").empty());
    EXPECT_FALSE(page.selectSingleNode("line[@top >"));
    EXPECT_TRUE(doc.selectNodes("///").empty());
    EXPECT_TRUE(page.selectNodes("line/@id").empty());
    EXPECT_FALSE(Node().selectSingleNode("line"));
    EXPECT_TRUE(Node().selectNodes("line").empty());
}

TEST(XmlDocument, MissingAttributeIsAbsentNotEmpty) {
    Document doc;
    ASSERT_TRUE(doc.loadText("<File name=''/>"));
    Node file = doc.documentElement();
    EXPECT_EQ(file.attribute("name"), std::optional<std::string>(""));
    EXPECT_EQ(file.attribute("processed"), std::nullopt);
    EXPECT_EQ(Node().attribute("name"), std::nullopt);
}

TEST(XmlDocument, SetAttributeReplacesInPlaceAndAppendsNewOnesLast) {
    Document doc;
    Node file = doc.appendElement("File");
    file.setAttribute("name", "x");
    file.setAttribute("processed", "0");
    file.setAttribute("name", "y");
    file.setAttribute("extra", "1");
    EXPECT_EQ(doc.xml(), "<File name=\"y\" processed=\"0\" extra=\"1\"/>");
    EXPECT_THROW(doc.appendElement("Second"), XmlError);
    EXPECT_THROW(Node().setAttribute("a", "b"), XmlError);
}

TEST(XmlDocument, DeepCopyIsAppendableToAnotherDocumentAndIndependent) {
    Document source;
    ASSERT_TRUE(source.loadText("<KVO><File name='one' processed='0'><image path='p'/></File></KVO>"));
    Node file = source.selectSingleNode("KVO/File");

    Document copy;
    Node root = copy.appendCopy(file);
    EXPECT_EQ(copy.documentElement().name(), "File");
    EXPECT_EQ(copy.xml(), "<File name=\"one\" processed=\"0\"><image path=\"p\"/></File>");
    EXPECT_THROW(copy.appendCopy(file), XmlError);

    // Changing one side leaves the other as it was, also after the source is gone.
    root.setAttribute("processed", "1");
    EXPECT_EQ(file.attribute("processed"), "0");
    source = Document();
    EXPECT_EQ(copy.selectSingleNode("File/image").attribute("path"), "p");

    Node pages = copy.documentElement().appendElement("pages");
    pages.appendCopy(copy.selectSingleNode("File/image"));
    EXPECT_EQ(copy.selectNodes("//image").size(), 2u);
    EXPECT_EQ(copy.documentElement().childElements().size(), 2u);
}

TEST(XmlDocument, SaveReplacesTheFileWholeAndRoundTripsNonAsciiPaths) {
    ScratchDir dir;
    const std::string target = (dir / "Akte Müller ß €.xml").string();
    WriteFile(target, "an older and much longer content that must go away entirely");

    Document doc;
    doc.appendElement("KVO").appendElement("File").setAttribute("name", "/srv/Akten/Müller & Söhne/Brief \"1\".tif");
    doc.save(target);
    EXPECT_EQ(ReadFile(target), doc.xml());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
        << "no temporary file may be left behind";

    Document back;
    ASSERT_TRUE(back.load(target));
    EXPECT_EQ(back.selectSingleNode("KVO/File").attribute("name"), "/srv/Akten/Müller & Söhne/Brief \"1\".tif");
}

TEST(XmlDocument, SaveFailureThrowsAndKeepsTheOldFile) {
    ScratchDir dir;
    Document doc;
    doc.appendElement("KVO");
    EXPECT_THROW(doc.save((dir / "no such folder" / "KVOFile.xml").string()), XmlError);

    // A read-only folder cannot take the temporary file: the old content stays.
    if (geteuid() != 0) {
        const fs::path target = dir / "KVOFile.xml";
        WriteFile(target, "<old/>");
        fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_THROW(doc.save(target.string()), XmlError);
        fs::permissions(dir.path(), fs::perms::owner_all);
        EXPECT_EQ(ReadFile(target), "<old/>");
    }
}

}  // namespace
}  // namespace kvo::xml
