#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/uri.h"

namespace {

using bmc::Uri;

struct UriCase {
    std::string text;
    std::string error; // empty: parses
    std::string location = {};
    Uri::SubSystem_e subSystem = Uri::eUnknown;
    Uri::Interface_e interface = Uri::eInterfaceDefault;
    std::string id = {};
    std::string qualified = {};
};

TEST(UriParse, TextsGiveTheirFieldsOrTheirError)
{
    const std::vector<UriCase> cases = {
        // A bare slot number is a local chassis slot; a location given with it is not kept.
        {"5", "", "", Uri::eChassis, Uri::eInterfaceDefault, "5", "kvr:///chassis/5"},
        {"kvr://local/5", "", "", Uri::eChassis, Uri::eInterfaceDefault, "5", "kvr:///chassis/5"},
        {"kvr://rack2/5", "", "", Uri::eChassis, Uri::eInterfaceDefault, "5", "kvr:///chassis/5"},
        {"kvr:///-3", "", "", Uri::eChassis, Uri::eInterfaceDefault, "-3", "kvr:///chassis/-3"},
        {"+07", "", "", Uri::eChassis, Uri::eInterfaceDefault, "7", "kvr:///chassis/7"},
        {"kvr://local/amc;ipmi-usb/3", "", "", Uri::eAmc, Uri::eInterfaceIpmiUsb, "3", "kvr:///amc;ipmi-usb/3"},
        {"kvr://rack2/1;2/7", "", "rack2", Uri::eAmc, Uri::eInterfaceIpmiI2c, "7", "kvr://rack2/amc;ipmi-i2c/7"},
        {"kvr://rack2/os", "", "rack2", Uri::eOs, Uri::eInterfaceDefault, "", "kvr://rack2/os/"},
        {"amc/3", "", "", Uri::eAmc, Uri::eInterfaceDefault, "3", "kvr:///amc/3"},
        {"kvr://rack2/amc/1/2", "", "rack2", Uri::eAmc, Uri::eInterfaceDefault, "1/2", "kvr://rack2/amc/1/2"},
        {"kvr://rack2/amc;ipmi-usb;extra/1", "", "rack2", Uri::eAmc, Uri::eInterfaceIpmiUsb, "1",
         "kvr://rack2/amc;ipmi-usb/1"},
        {"kvr:///test/Os", "", "", Uri::eTest, Uri::eInterfaceDefault, "Os", "kvr:///test/Os"},
        {"kvr:///chassis;0/2", "", "", Uri::eChassis, Uri::eInterfaceDefault, "2", "kvr:///chassis/2"},
        {"kvr:/rack2/amc/1", "URI: expected // after schema."},
        {"kvr:", "URI: expected // after schema."},
        {"abc://rack2/amc/1", "URI: wrong schema."},
        {"amc/3:4", "URI: wrong schema."},
        {"kvr://rack2", "URI: missing location."},
        {"kvr://rack2/AMC/1", "Invalid integer value"},
        {"kvr://rack2/42/1", "Invalid enum value"},
        {"kvr://rack2/amc;IPMI-USB/1", "Invalid integer value"},
        {"kvr://rack2/amc;9/1", "Invalid enum value"},
        {"kvr://rack2//3", "Invalid integer value"},
        {"kvr://rack2/;ipmi-usb/3", "Invalid integer value"},
        {"", "Invalid integer value"},
        {"99999999999", "Invalid enum value"}, // beyond int: no slot, and no subsystem
        {"kvr:///4294967302/1", "Invalid enum value"}, // 2^32 + 6 is not "os"
        {"kvr:///os;-4294967295/1", "Invalid enum value"}, // nor is this interface 1
    };
    for (const UriCase& c : cases) {
        if (!c.error.empty()) {
            try {
                const Uri uri = bmc::DecomposeUri(c.text);
                ADD_FAILURE() << "'" << c.text << "' parsed as " << uri;
            } catch (const istd::Exception& e) {
                EXPECT_EQ(std::string(e.what()), c.error) << c.text;
            }
            continue;
        }
        const Uri uri = bmc::DecomposeUri(c.text);
        EXPECT_EQ(uri.GetLocation(), c.location) << c.text;
        EXPECT_EQ(uri.GetSubSystem(), c.subSystem) << c.text;
        EXPECT_EQ(uri.GetInterface(), c.interface) << c.text;
        EXPECT_EQ(uri.GetId(), c.id) << c.text;
        EXPECT_EQ(uri.ToString(), c.qualified) << c.text;
        // The text form reads back to the same URI.
        EXPECT_EQ(bmc::DecomposeUri(uri.ToString()).ToString(), c.qualified) << c.text;
    }
}

TEST(UriParse, APathThatIsNoNumberIsTracedAtDetailLevel)
{
    istd::TraceCapture capture(istd::eTraceDetail);
    bmc::DecomposeUri("kvr:///amc/1");
    EXPECT_TRUE(capture.Contains("Path is not just a number, continue parsing"));
}

TEST(UriText, ConstructorsAndConstantsGiveTheirTexts)
{
    EXPECT_EQ(Uri().ToString(), "kvr:///unknown/");
    EXPECT_EQ(bmc::c_localKozUri.ToString(), "kvr:///chassis/0");
    EXPECT_EQ(bmc::c_localOSUri.ToString(), "kvr:///os/");
    EXPECT_EQ(Uri::c_schema, "kvr:");
    EXPECT_EQ(Uri::c_locLocal, "local");
    EXPECT_EQ(bmc::CreateLocalChassisUri(5, Uri::eInterfaceDefault).ToString(), bmc::DecomposeUri("5").ToString());
    EXPECT_EQ(bmc::CreateLocalAmcUri(-1, Uri::eInterfaceHpi).ToString(), "kvr:///amc;hpi/-1");
    EXPECT_EQ(Uri("rack2", Uri::eMch, "x", Uri::eInterfaceIpmiLan).ToString(), "kvr://rack2/mch;ipmi-lan/x");
    EXPECT_EQ(bmc::c_localOSUri.GetSubSystemStr(), "os");

    std::ostringstream os;
    os << bmc::c_localKozUri;
    EXPECT_EQ(os.str(), "kvr:///chassis/0");
}

TEST(UriText, LocalLocationIsEmptyOnlyThroughTheFourPartConstructor)
{
    const Uri byConstructor("local", Uri::eAmc, "3", Uri::eInterfaceDefault);
    EXPECT_EQ(byConstructor.GetLocation(), "");
    EXPECT_EQ(byConstructor.ToString(), "kvr:///amc/3");

    Uri bySetter(Uri::eAmc, "3", Uri::eInterfaceDefault);
    bySetter.SetLocation("local");
    EXPECT_TRUE(bySetter.IsLocal());
    EXPECT_EQ(bySetter.ToString(), "kvr://local/amc/3");

    std::map<Uri, int> pool;
    pool[byConstructor] = 1;
    pool[Uri(Uri::eAmc, 3, Uri::eInterfaceDefault)] = 2;
    pool[bySetter] = 3;
    ASSERT_EQ(pool.size(), 2u);
    EXPECT_EQ(pool[byConstructor], 2);

    EXPECT_FALSE(Uri("rack2", Uri::eAmc, "3", Uri::eInterfaceDefault).IsLocal());
}

TEST(UriText, SettersRebuildTheText)
{
    Uri uri = bmc::DecomposeUri("kvr:///amc/3");
    EXPECT_EQ(uri.ToString(), "kvr:///amc/3");
    uri.SetId("4");
    EXPECT_EQ(uri.ToString(), "kvr:///amc/4");
    uri.SetSubSystem(Uri::eChassis);
    uri.SetInterface(Uri::eInterfaceIpmiUsb);
    uri.SetLocation("rack7");
    EXPECT_EQ(uri.ToString(), "kvr://rack7/chassis;ipmi-usb/4");

    Uri copy(uri);
    Uri assigned;
    assigned = uri;
    uri.SetId("5");
    EXPECT_EQ(copy.ToString(), "kvr://rack7/chassis;ipmi-usb/4");
    EXPECT_EQ(assigned.ToString(), "kvr://rack7/chassis;ipmi-usb/4");
    EXPECT_EQ(uri.ToString(), "kvr://rack7/chassis;ipmi-usb/5");
}

TEST(UriText, AValueWithoutATextFailsAndKeepsTheOldText)
{
    Uri uri(Uri::eAmc, "3", Uri::eInterfaceDefault);
    ASSERT_EQ(uri.ToString(), "kvr:///amc/3");
    const auto badSubSystem = static_cast<Uri::SubSystem_e>(15);
    uri.SetSubSystem(badSubSystem);
    EXPECT_THROW(uri.ToString(), istd::Exception);
    EXPECT_THROW(uri.GetSubSystemStr(), istd::Exception);
    EXPECT_THROW(std::less<Uri>()(uri, bmc::c_localOSUri), istd::Exception);
    std::ostringstream os;
    EXPECT_THROW(os << uri, istd::Exception);
    EXPECT_EQ(os.str(), "");

    uri.SetSubSystem(Uri::eAmc);
    uri.SetInterface(static_cast<Uri::Interface_e>(7));
    try {
        uri.ToString();
        ADD_FAILURE() << "an interface without a text was printed";
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "invalid value");
    }
    uri.SetInterface(Uri::eInterfaceHpi);
    EXPECT_EQ(uri.ToString(), "kvr:///amc;hpi/3");
}

TEST(UriOrder, UrisSortByTheirTextBytes)
{
    std::less<Uri> less;
    const Uri amc10 = bmc::DecomposeUri("kvr:///amc/10");
    const Uri amc2 = bmc::DecomposeUri("kvr:///amc/2");
    EXPECT_TRUE(less(amc10, amc2));
    EXPECT_FALSE(less(amc2, amc10));
    EXPECT_FALSE(less(amc2, amc2));

    // Bytes compare unsigned: a location with a byte above 0x7F sorts after plain letters.
    const Uri high("\xC3\xA9", Uri::eAmc, "1", Uri::eInterfaceDefault);
    const Uri plain("z", Uri::eAmc, "1", Uri::eInterfaceDefault);
    EXPECT_TRUE(less(plain, high));

    // A prefix sorts first.
    EXPECT_TRUE(less(bmc::DecomposeUri("kvr:///amc/1"), bmc::DecomposeUri("kvr:///amc/1/0")));
}

} // namespace
