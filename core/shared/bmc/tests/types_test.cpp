#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bmc/types.h"
#include "bmc/uri.h"

namespace {

using Rows = std::vector<std::pair<int, std::string>>;

template <class E, bool streamOperator>
void Print(std::ostream& os, E value)
{
    if constexpr (streamOperator) {
        os << value;
    } else {
        istd::PrintEnum(os, value);
    }
}

// Every row prints its text, the table has exactly these rows, and a value outside them (but
// within the enumeration's range; -1 when there is none) prints nothing but fails.
template <class E, bool streamOperator = true>
void ExpectTable(const Rows& rows, int missing)
{
    EXPECT_EQ(istd::EnumMap<E>::items.Size(), rows.size());
    for (const auto& [value, text] : rows) {
        std::ostringstream os;
        Print<E, streamOperator>(os, static_cast<E>(value));
        EXPECT_EQ(os.str(), text) << "value " << value;
    }
    if (missing < 0) {
        return;
    }
    std::ostringstream os;
    try {
        Print<E, streamOperator>(os, static_cast<E>(missing));
        ADD_FAILURE() << "value " << missing << " printed";
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "invalid value");
    }
    EXPECT_EQ(os.str(), "");
}

// Every row parses by its text (when it is one word) and by its number.
template <class E>
void ExpectParse(const Rows& rows)
{
    for (const auto& [value, text] : rows) {
        if (text.find(' ') == std::string::npos) {
            std::istringstream byName(text);
            E parsed{};
            byName >> parsed;
            EXPECT_EQ(static_cast<int>(parsed), value) << text;
        }
        std::istringstream byNumber(std::to_string(value));
        E parsed{};
        byNumber >> parsed;
        EXPECT_EQ(static_cast<int>(parsed), value) << value;
    }
}

const Rows c_boardTypes = {
    {255, "INVA"},  {44, "KOZ"},   {236, "JY"},   {46, "WRP"},  {173, "MOKVE"}, {160, "NUSTA"},
    {161, "PELOX"}, {219, "HUMVA"}, {175, "ZEK"}, {174, "OBLIN"}, {125, "WYQ"},  {62, "PAX"},
    {92, "K7N"},    {93, "DWO"},   {235, "ZOLT"}, {94, "QEV"},  {244, "uTCA"},  {243, "OS"}};
const Rows c_firmwareTypes = {{0, "INVA"},  {44, "KOZ"},  {173, "MOKVE"},
                                                   {236, "JY"},  {46, "WRP"},  {219, "HUMVA"},
                                                   {255, "Unknown"}};
const Rows c_boardStatus = {
    {255, "Defective (inaccessible)"}, {0, "Uninitialised"}, {1, "HW initialised"},
    {2, "FPGA is booting.."},          {3, "FPGA initialised"}, {4, "Running"},
    {5, "FPGA boot timeout"}};
const Rows c_powerStatus = {{0, "Off"}, {1, "Mng"}, {2, "Mng + Main"}};
const Rows c_redLed = {{0, "Unknown"}, {1, "On"}, {2, "Off"}};
const Rows c_hwRevisions = {{0, "undefined"}, {1, "A"}, {2, "B"}, {3, "C"}, {4, "D"},
                                           {5, "E"},         {6, "F"}, {7, "G"}, {255, "invalid"}};
const Rows c_applicationIds = {{0, "undefined"}, {1, "Tesmar RF"}, {2, "Orvalis+"},
                                                {3, "Varnet H"},  {4, "Quendra"},   {5, "Varnet E"},
                                                {255, "invalid"}};
const Rows c_sensorTypes = {
    {0, "Unknown"},    {1, "Fan"},     {2, "Temperature"}, {3, "Voltage"}, {4, "Current"},
    {5, "OtherAnalog"}, {6, "Discrete"}, {7, "Power"},      {8, "Energy"},  {9, "Memory"},
    {10, "CPU"},       {11, "McDevLoc"}, {12, "HotSwapHandle"}};
const Rows c_sensorLimits = {{0, "ok"},  {1, "lnr"}, {2, "lc"}, {3, "lnc"},
                                                 {4, "hnc"}, {5, "hc"},  {6, "hnr"}, {7, "na"}};

TEST(IdentityTables, EveryRowPrintsItsTextAndOnlyTheseRowsExist)
{
    ExpectTable<bmc::BoardType_e>(c_boardTypes, 0);
    ExpectTable<bmc::FirmwareType_e>(c_firmwareTypes, 1);
    ExpectTable<bmc::BoardStatus_e>(c_boardStatus, 6);
    ExpectTable<bmc::BoardPowerStatus_e>(c_powerStatus, 3);
    ExpectTable<bmc::RedLedStatus_e>(c_redLed, 3);
    ExpectTable<hwRevisions_e>(c_hwRevisions, 8);
    ExpectTable<applicationId_e>(c_applicationIds, 6);
    ExpectTable<bmc::SensorType_e>(c_sensorTypes, 13);
    ExpectTable<bmc::SensorLimit_e>(c_sensorLimits, -1);
}

TEST(IdentityTables, ParsableTablesReadEveryRowByTextAndNumber)
{
    ExpectParse<bmc::BoardType_e>(c_boardTypes);
    ExpectParse<bmc::FirmwareType_e>(c_firmwareTypes);
    ExpectParse<hwRevisions_e>(c_hwRevisions);
    ExpectParse<applicationId_e>(c_applicationIds);
}

TEST(IdentityTables, SameValueOrTextMeansDifferentThingsInEachTable)
{
    std::ostringstream os;
    os << bmc::eFirmwareTypeInvalid << "|" << bmc::eBoardTypeKOZ << "|" << bmc::eFirmwareTypeKOZ;
    EXPECT_EQ(os.str(), "INVA|KOZ|KOZ");

    std::istringstream is("INVA INVA");
    bmc::BoardType_e board{};
    bmc::FirmwareType_e firmware{};
    is >> board >> firmware;
    EXPECT_EQ(board, bmc::eBoardTypeInvalid);
    EXPECT_EQ(firmware, bmc::eFirmwareTypeInvalid);
}

struct ParseCase {
    std::string input;
    std::string error; // empty: parses to expected
    int expected;
};

TEST(IdentityTables, BoardTypeParsingRefusesWhatIsNoTextOrValue)
{
    const std::vector<ParseCase> cases = {
        {"PAX", "", 62},
        {"62", "", 62},
        {"  +62", "", 62},
        {"4294967340", "Invalid enum value", 0}, // 2^32 + 44: never cut to 32 bits
        {"pax", "Invalid integer value", 0},
        {"300", "Invalid enum value", 0},
        {"-1", "Invalid enum value", 0},
        {"0x3e", "Invalid integer value", 0},
        {"62abc", "Invalid integer value", 0},
        {"99999999999999999999", "Invalid integer value", 0},
        {"", "Invalid integer value", 0},
        {"   ", "Invalid integer value", 0},
    };
    for (const ParseCase& c : cases) {
        std::istringstream is(c.input);
        bmc::BoardType_e value = bmc::eBoardTypeZOLT;
        if (c.error.empty()) {
            is >> value;
            EXPECT_EQ(static_cast<int>(value), c.expected) << c.input;
            continue;
        }
        try {
            is >> value;
            ADD_FAILURE() << "'" << c.input << "' parsed";
        } catch (const istd::Exception& e) {
            EXPECT_EQ(std::string(e.what()), c.error) << c.input;
        }
        EXPECT_EQ(value, bmc::eBoardTypeZOLT) << "target changed by '" << c.input << "'";
    }
}

TEST(IdentityTables, TextsWithABlankCannotBeParsedFromAStream)
{
    std::istringstream is("Tesmar RF");
    applicationId_e id = eAppIdQuendra;
    EXPECT_THROW(is >> id, istd::Exception);
    EXPECT_EQ(id, eAppIdQuendra);

    std::istringstream ok("Orvalis+ C");
    hwRevisions_e revision{};
    ok >> id >> revision;
    EXPECT_EQ(id, eAppIdOrvalisPlus);
    EXPECT_EQ(revision, eHwRevC);
}

TEST(IdentityTables, UriTablesBuildWithTheOthers)
{
    ExpectTable<bmc::Uri::SubSystem_e, false>({{0, "chassis"}, {1, "amc"}, {2, "trm"}, {3, "cu"}, {4, "ps"},
                                               {5, "mch"}, {6, "os"}, {7, "test"}, {8, "unknown"}},
                                              9);
    ExpectTable<bmc::Uri::Interface_e, false>({{0, ""}, {1, "ipmi-usb"}, {2, "ipmi-i2c"}, {3, "hpi"}, {4, "ipmi-lan"}},
                                              5);
}

TEST(IdentityTables, ATableWithARepeatedTextFailsToBuild)
{
    try {
        istd::BiMap<bmc::BoardType_e> table{{bmc::eBoardTypeKOZ, "KOZ"}, {bmc::eBoardTypePAX, "KOZ"}};
        ADD_FAILURE() << "built with " << table.Size() << " rows";
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "invalid enum description table");
    }
}

} // namespace
