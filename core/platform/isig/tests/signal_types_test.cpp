#include <gtest/gtest.h>

#include <sstream>

#include "common/test_source.h"
#include "isig/signal_types.h"
#include "istd/enum_map.h"

namespace {

template <class T>
std::string Print(const T& value)
{
    std::ostringstream os;
    os << value;
    return os.str();
}

TEST(SignalTypes, NameTablesHoldTheNegativeValuesAndReadBack)
{
    // The two tables that registry enumeration nodes show, each with its negative value.
    EXPECT_STREQ(istd::EnumName(isig::eAtomUnknown), "unknown");
    EXPECT_EQ(istd::EnumCast<isig::AtomType_e>("-1"), isig::eAtomUnknown);
    EXPECT_EQ(istd::EnumCast<isig::AccessType_e>("invalid"), isig::eAccessInvalid);
    EXPECT_EQ(static_cast<int>(isig::eAccessInvalid), -1);
    EXPECT_EQ(istd::EnumMap<isig::AtomType_e>::items.Size(), 11u);
    EXPECT_EQ(istd::EnumMap<isig::AccessType_e>::items.Size(), 3u);
    for (const auto& [value, name] : istd::EnumMap<isig::AtomType_e>::items) {
        EXPECT_EQ(istd::EnumCast<isig::AtomType_e>(name), value);
    }
    EXPECT_EQ(istd::EnumMap<isig::AtomType_e>::items.begin()->first, isig::eAtomUnknown);
    EXPECT_EQ(Print(isig::eAccessStream), "stream");
    isig::AtomType_e parsed{};
    std::istringstream("int16") >> parsed;
    EXPECT_EQ(parsed, isig::eAtomInt16);
}

TEST(SignalTypes, CodesAndStatesPrintWithNameAndNumber)
{
    EXPECT_EQ(Print(isig::eSuccess), "success(0)");
    EXPECT_EQ(Print(isig::eCancelled), "cancelled(-4)");
    EXPECT_EQ(Print(isig::eNotStarted), "not started(-6)");
    EXPECT_EQ(Print(static_cast<isig::SuccessCode_e>(-7)), "code(-7)");
    EXPECT_EQ(Print(isig::eStreamRunning), "running(2)");
    EXPECT_EQ(Print(isig::eStreamShutDown), "shut down(4)");
    EXPECT_TRUE(isig::c_noMeta.empty());
}

TEST(SignalTypes, BaseTypesMapOntoAtomTypes)
{
    const std::vector<std::pair<const std::type_info*, isig::AtomType_e>> cases{
        {&typeid(double), isig::eAtomDouble},       {&typeid(float), isig::eAtomFloat},
        {&typeid(uint64_t), isig::eAtomUInt64},     {&typeid(unsigned long long), isig::eAtomUInt64},
        {&typeid(int64_t), isig::eAtomInt64},       {&typeid(long long), isig::eAtomInt64},
        {&typeid(uint32_t), isig::eAtomUInt32},     {&typeid(int32_t), isig::eAtomInt32},
        {&typeid(uint16_t), isig::eAtomUInt16},     {&typeid(int16_t), isig::eAtomInt16},
        {&typeid(uint8_t), isig::eAtomUInt8},       {&typeid(int8_t), isig::eAtomInt8},
        {&typeid(char), isig::eAtomUnknown},        {&typeid(std::string), isig::eAtomUnknown},
    };
    for (const auto& [type, expected] : cases) {
        EXPECT_EQ(isig::AtomTypeOf(*type), expected) << type->name();
    }
    isigtest::TestSource source;
    EXPECT_EQ(source.BaseEnumType(), isig::eAtomInt64);
    EXPECT_EQ(source.SourceType(), 0);
}

TEST(SignalBases, DefaultsRefuseOtherTypesLoudly)
{
    isigtest::TestSource source;
    const double d = 1.0;
    try {
        source.Dispatch(&d, 1, isig::c_noMeta);
        FAIL() << "a double dispatched into an int64 stream";
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "isig: Dispatch of double not supported");
    }
    const int8_t b = 1;
    EXPECT_THROW(source.Dispatch(&b, 1, isig::c_noMeta), istd::Exception);

    // The client base: Open with a mode is Open(); every Read answers failure and no values.
    source.openCode = isig::eNotStarted;
    std::unique_ptr<isig::SignalClientBase> client(source.NewSignalClient("c", 0));
    EXPECT_EQ(client->Open(isig::eModeRead, 4, 100), isig::eNotStarted);
    source.openCode = isig::eSuccess;
    EXPECT_EQ(client->Open(isig::eModeForward, 4, 0), isig::eSuccess);
    EXPECT_TRUE(client->IsOpen());
    int64_t data[4];
    unsigned count = 4;
    isig::SignalMeta meta;
    EXPECT_EQ(client->Read(data, count, 10, meta), isig::eFailure);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(client->SignalAccessType(), 1);
    EXPECT_TRUE(client->GetStatistics().empty());
}

} // namespace
