// Schema generation: file names, the shape of generated schemas, and the trees that no valid
// schema describes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/icfg_test.h"
#include "icfg/configuration.h"
#include "tests/support/error_of.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

using icfg::Attribute;
using icfg::Element;
using icfg::ElementList;
using icfg::ElementPtr;
using testsupport::ErrorOf;
using testsupport::ReadFile;

TEST(SchemaFileName, ExtensionOfTheLastComponentOnly)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/var/cfg/app.xml", "/var/cfg/app.xsd"},
        {"app.backup.xml", "app.backup.xsd"},
        {"cfg", "cfg.xsd"},
        {"/opt/rel2.4/cfg", "/opt/rel2.4/cfg.xsd"},
        {"./app", "./app.xsd"},
        {"../cfg.d/app", "../cfg.d/app.xsd"},
        {"/var/cfg/.app", "/var/cfg/.app.xsd"},
        {"app.", "app.xsd"},
        {"", ".xsd"},
    };
    for (const auto& [file, schema] : cases) {
        EXPECT_EQ(icfg::GenerateXsdFileName(file), schema) << file;
    }
}

class SchemaTest : public ::testing::Test {
protected:
    // The generated schema of a list, or the error text.
    std::string Generate(const ElementList& elements)
    {
        const std::string error = ErrorOf([&] { document.GenerateXsd(dir / "s.xsd", "", elements); });
        return error == "no error" ? ReadFile(dir / "s.xsd") : error;
    }

    testsupport::TempDir dir;
    // A types schema that exists: a missing one would be replaced by the library's copy.
    icfg::Configuration document{"1.0", testsupport::TypesXsd()};
};

TEST_F(SchemaTest, EmptyListGivesTheRootWithOnlyTheVersion)
{
    EXPECT_EQ(Generate({}),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" xmlns:qarex=\"urn:kavrel:xsd:types\" version=\"1.0\">\n"
              "  <xs:import namespace=\"urn:kavrel:xsd:types\" schemaLocation=\"" + testsupport::TypesXsd() + "\"/>\n"
              "  <xs:element name=\"configuration\">\n"
              "    <xs:complexType>\n"
              "      <xs:attribute name=\"version\" use=\"required\" type=\"xs:string\"/>\n"
              "    </xs:complexType>\n"
              "  </xs:element>\n"
              "</xs:schema>\n");
}

TEST_F(SchemaTest, ElementsAttributesGroupsAndValidValues)
{
    ElementPtr gain = Element::Create("gain");
    gain->AddAttribute(Attribute::Create("value", "1", icfg::e_qarexInt));
    icfg::AttributePtr colour = Attribute::Create("colour", "red", icfg::e_xsString);
    colour->SetValidValues({"red", "green", "blue"});
    gain->AddAttribute(colour);

    ElementPtr list = Element::Create("reg.array");
    list->SetOrder(Element::e_sequence);
    for (int i = 0; i < 5; ++i) {
        ElementPtr item = Element::Create("reg.item");
        item->AddAttribute(Attribute::Create("value", std::to_string(i), icfg::e_qarexUnsignedLong));
        list->AddChild(item);
    }
    ElementPtr mode = Element::Create("mode");
    mode->SetOrder(Element::e_choice);
    mode->AddChild(Element::Create("fast", icfg::e_xsBoolean));
    mode->AddChild(Element::Create("slow"));
    ElementPtr plain = Element::Create("plain", icfg::e_xsDouble);

    const std::string schema = Generate({gain, list, mode, plain});
    EXPECT_EQ(schema.substr(schema.find("    <xs:complexType>")),
              "    <xs:complexType>\n"
              "      <xs:all>\n"
              "        <xs:element name=\"gain\" minOccurs=\"0\">\n"
              "          <xs:complexType>\n"
              "            <xs:attribute name=\"value\" use=\"required\" type=\"qarex:int\"/>\n"
              "            <xs:attribute name=\"colour\" use=\"required\">\n"
              "              <xs:simpleType>\n"
              "                <xs:restriction base=\"xs:string\">\n"
              "                  <xs:enumeration value=\"red\"/>\n"
              "                  <xs:enumeration value=\"green\"/>\n"
              "                  <xs:enumeration value=\"blue\"/>\n"
              "                </xs:restriction>\n"
              "              </xs:simpleType>\n"
              "            </xs:attribute>\n"
              "          </xs:complexType>\n"
              "        </xs:element>\n"
              "        <xs:element name=\"reg.array\" minOccurs=\"0\">\n"
              "          <xs:complexType>\n"
              "            <xs:sequence>\n"
              "              <xs:element name=\"reg.item\" minOccurs=\"0\" maxOccurs=\"unbounded\">\n"
              "                <xs:complexType>\n"
              "                  <xs:attribute name=\"value\" use=\"required\" type=\"qarex:unsignedLong\"/>\n"
              "                </xs:complexType>\n"
              "              </xs:element>\n"
              "            </xs:sequence>\n"
              "          </xs:complexType>\n"
              "        </xs:element>\n"
              "        <xs:element name=\"mode\" minOccurs=\"0\">\n"
              "          <xs:complexType>\n"
              "            <xs:choice>\n"
              "              <xs:element name=\"fast\" minOccurs=\"0\" type=\"xs:boolean\"/>\n"
              "              <xs:element name=\"slow\" minOccurs=\"0\"/>\n"
              "            </xs:choice>\n"
              "          </xs:complexType>\n"
              "        </xs:element>\n"
              "        <xs:element name=\"plain\" minOccurs=\"0\" type=\"xs:double\"/>\n"
              "      </xs:all>\n"
              "      <xs:attribute name=\"version\" use=\"required\" type=\"xs:string\"/>\n"
              "    </xs:complexType>\n"
              "  </xs:element>\n"
              "</xs:schema>\n");
}

TEST_F(SchemaTest, TreesThatNoValidSchemaDescribesAreRefused)
{
    auto withAttribute = [](ElementPtr element) {
        element->AddAttribute(Attribute::Create("value", "1"));
        return element;
    };
    auto withChildren = [](ElementPtr element, std::vector<ElementPtr> children) {
        for (const ElementPtr& child : children) {
            element->AddChild(child);
        }
        return element;
    };
    ElementPtr sequence = withChildren(Element::Create("list"),
                                       {withAttribute(Element::Create("item")), Element::Create("item")});
    sequence->SetOrder(Element::e_sequence);
    ElementPtr choice = withChildren(Element::Create("mode"), {Element::Create("a"), Element::Create("a")});
    choice->SetOrder(Element::e_choice);
    ElementPtr badOrder = withChildren(Element::Create("group"), {Element::Create("a")});
    badOrder->SetOrder(Element::Order_e(3));

    const std::vector<std::pair<const char*, ElementList>> cases = {
        {"element type without a name", {Element::Create("x", icfg::DataType_e(14))}},
        {"attribute type without a name",
         {[] {
             ElementPtr e = Element::Create("x");
             e->AddAttribute(Attribute::Create("a", "1", icfg::DataType_e(14)));
             return e;
         }()}},
        {"order without a name", {badOrder}},
        {"simple type with an attribute", {withAttribute(Element::Create("x", icfg::e_xsInt))}},
        {"simple type with a child", {withChildren(Element::Create("x", icfg::e_qarexInt), {Element::Create("y")})}},
        {"duplicate names at the top", {Element::Create("x"), Element::Create("x")}},
        {"duplicate names under all", {withChildren(Element::Create("x"), {Element::Create("y"), Element::Create("y")})}},
        {"duplicate names under choice", {choice}},
        {"sequence items of two shapes", {sequence}},
        {"a name that is no XML name", {Element::Create("a b")}},
        // Fine in a document, but libxml2 checks declared names by older rules.
        {"a name of the newer XML rules", {Element::Create("reg\xCB\x96item")}},
        {"an attribute named xmlns", {[] {
             ElementPtr e = Element::Create("x");
             e->AddAttribute(Attribute::Create("xmlns", "urn:x"));
             return e;
         }()}},
    };
    for (const auto& [what, elements] : cases) {
        EXPECT_EQ(Generate(elements), "invalid value") << what;
    }
}

TEST_F(SchemaTest, UnwritableSchemaFile)
{
    EXPECT_EQ(ErrorOf([&] { document.GenerateXsd(dir / "missing/s.xsd", "", {}); }),
              "Cannot store xsd file " + (dir / "missing/s.xsd") + ": No such file or directory");
}

} // namespace
