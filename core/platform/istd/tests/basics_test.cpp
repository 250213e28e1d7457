#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <sstream>

#include "istd/exception.h"
#include "istd/id.h"
#include "istd/ver_info.h"

namespace {

struct BasicsTag {};

} // namespace

ISTD_DECLARE_ID_COUNTER(BasicsTag)
ISTD_DEFINE_ID_COUNTER(BasicsTag)

namespace {

TEST(Exception, CarriesItsTextAndStreamsIt)
{
    const istd::Exception a("from char array", true);
    const istd::Exception b(std::string("from string"));
    EXPECT_STREQ(a.what(), "from char array");
    EXPECT_TRUE(b.Flag());
    std::ostringstream os;
    os << b;
    EXPECT_EQ(os.str(), "from string");
    EXPECT_STREQ(istd::Exception(static_cast<const char*>(nullptr)).what(), "");
    // Caught as std::exception through the base.
    try {
        throw istd::Exception("base");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "base");
    }
}

TEST(Id, CountsFromOneAndOrdersInASet)
{
    const istd::Id<BasicsTag> first;
    const istd::Id<BasicsTag> second;
    const istd::Id<BasicsTag> copy = first;
    EXPECT_EQ(first.Value(), 1u);
    EXPECT_EQ(second.Value(), 2u);
    EXPECT_EQ(copy, first);
    EXPECT_TRUE(first < second);
    std::set<istd::Id<BasicsTag>> ids{second, first, copy};
    EXPECT_EQ(ids.size(), 2u);
    EXPECT_EQ(ids.begin()->Value(), 1u);
}

TEST(VerInfo, VersionNumbersAndOverride)
{
    istd::VerInfo& v = istd::VerInfo::GetInstance();
    EXPECT_EQ(v.Major(), 2);
    EXPECT_EQ(v.Minor(), 8);
    // The build number is the CMake cache variable of this build tree.
    std::ifstream cache(std::string(KAVREL_BINARY_DIR) + "/CMakeCache.txt");
    std::string line, number;
    while (std::getline(cache, line)) {
        if (line.rfind("KAVREL_BUILD_NUMBER:", 0) == 0) {
            number = line.substr(line.find('=') + 1);
        }
    }
    ASSERT_FALSE(number.empty());
    EXPECT_EQ(v.Build(), std::stoi(number));
    EXPECT_EQ(v.VersionString(), "2.8-" + std::to_string(v.Build()));

    const int build = v.Build();
    v.Override(2, 8, 171);
    EXPECT_EQ(v.VersionString(), "2.8-171");
    ::testing::internal::CaptureStdout();
    v.Dump();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Version: 2.8-171\n");
    v.Override(2, 8, build);
}

} // namespace
