#ifndef BMC_CONFIG_MNG_H
#define BMC_CONFIG_MNG_H

// The board configuration record that a board's management controller keeps, the reader that
// fills it from an XML board configuration document (hardware-initialisation scripts included)
// and the printers that show it.
//
// A configuration tool drives it:
//     bmc::BoardConfig::Init("board.xml");                 // parse and validate
//     bmc::ConfigMng reader;                                // target "default"
//     reader.boardConfig.firmwareType = bmc::eFirmwareTypeKOZ;
//     bmc::BoardConfig::GetInstance().Read(reader);         // throws on a malformed value
//     board.WriteConfiguration(reader.boardConfig);
//
// The record is byte-exact: packed, little-endian (the machine's own order), text fields
// NUL-padded. Its transfer to a board goes section by section (Board_e), each section led by a
// checksum of its other bytes (ComputeChecksum, StoreChecksums).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "bmc/bmc_export.h"
#include "icfg/configuration.h"
#include "icfg/element.h"
#include "icfg/serializable.h"
#include "bmc/types.h"
#include "bmc/uri.h"

#pragma pack(push, 1)

// The head of each section of the record.
struct BMC_API cfg_header {
    uint32_t crcCode;          // checksum of the section's other bytes, filled on transfer
    uint32_t magicCode;        // bmc::c_configMagic marks a section that holds a configuration
    uint8_t structureVersion;
    char revisionStr[128];
    uint32_t timeCreate;       // seconds
    uint32_t timeModify;       // seconds
};

// The hardware identification block of each section.
struct BMC_API hwidentification {
    uint8_t applicationIdentifier; // applicationId_e
    uint8_t subsystemIdentifier;   // 0 to 254
    uint8_t hwRevisionNumber;      // hwRevisions_e
    char customerIdString[4];
    char serialNoString[32];
    char hystoryRecordString[2048];
};

#pragma pack(pop)

static_assert(sizeof(cfg_header) == 145, "cfg_header is 145 bytes");
static_assert(sizeof(hwidentification) == 2087, "hwidentification is 2087 bytes");

// The printers of the two header types (each returns the stream).
BMC_API std::ostream& operator<<(std::ostream& os, const cfg_header& header);
BMC_API std::ostream& operator<<(std::ostream& os, const hwidentification& id);

namespace bmc {

// The sections of the record, as the controller's storage requests select them.
enum Board_e { eBoardBase = 0, eBoardSubsys = 1 };

constexpr uint32_t c_configMagic = 0xC0F6B0AD;
// Size of each hardware-initialisation byte-code area.
constexpr unsigned int c_hwInitAreaSize = 3072;

#pragma pack(push, 1)

// Base-board section, record offsets 0 to 8646.
struct BMC_API BaseBoardConfig_t {
    cfg_header header;
    uint32_t fpgaImageReadTimeout;
    uint8_t boardType;            // BoardType_e
    uint8_t boardSpecific[256];   // laid out by the record's firmware type
    hwidentification hwId;
    uint8_t startupOrder;         // zero-based
    uint8_t subsysPresent;        // 1: the record has a subsystem-board section
    uint32_t hwInitLength;
    uint8_t hwInitData[c_hwInitAreaSize];
    uint32_t hwPostInitLength;
    uint8_t hwPostInitData[c_hwInitAreaSize];
};

// Subsystem-board section, record offsets 8647 to 13954.
struct BMC_API SubsysBoardConfig_t {
    cfg_header header;
    hwidentification hwId;
    uint32_t hwInitLength;
    uint8_t hwInitData[c_hwInitAreaSize];
};

// The record as the controller stores it: base-board section, then subsystem-board section.
struct BMC_API BoardConfigRecord_t {
    BaseBoardConfig_t baseBoard;
    SubsysBoardConfig_t subsysBoard;
};

#pragma pack(pop)

static_assert(sizeof(BaseBoardConfig_t) == 8647, "base-board section is 8647 bytes");
static_assert(sizeof(SubsysBoardConfig_t) == 5308, "subsystem-board section is 5308 bytes");
static_assert(sizeof(BoardConfigRecord_t) == 13955, "configuration record is 13955 bytes");
static_assert(offsetof(BaseBoardConfig_t, hwId) == 406 && offsetof(BaseBoardConfig_t, subsysPresent) == 2494 &&
                  offsetof(BaseBoardConfig_t, hwPostInitData) == 5575,
              "base-board section layout");
static_assert(offsetof(BoardConfigRecord_t, subsysBoard) == 8647 &&
                  offsetof(BoardConfigRecord_t, subsysBoard.hwInitData) == 10883,
              "subsystem-board section layout");

// Board-specific area, offsets within the base-board section.
constexpr size_t c_kozMacOffset = 150;             // 6 bytes, firmware type KOZ
constexpr size_t c_kozIgnoreSatellitesOffset = 156; // 1 byte, stored inverted
constexpr size_t c_platformBSlotsOffset = 150;     // 4 bytes, WRP, MOKVE, HUMVA, JY
constexpr size_t c_utcaSlotsOffset = 154;          // 4 bytes, same firmware types

// The configuration record of a board and, outside the record, what the board is.
struct BMC_API BoardConfiguration {
    static constexpr size_t c_recordSize = sizeof(BoardConfigRecord_t);
    static constexpr size_t c_subsysPresentOffset = offsetof(BaseBoardConfig_t, subsysPresent);

    // Record zeroed, board type 255, firmware type 0, empty URI.
    BoardConfiguration();

    // The record's bytes, c_recordSize of them.
    uint8_t* Data() { return reinterpret_cast<uint8_t*>(&record); }
    const uint8_t* Data() const { return reinterpret_cast<const uint8_t*>(&record); }

    // Where a section lies in the record and how long it is (8647 or 5308 bytes).
    static size_t SectionOffset(Board_e section);
    static size_t SectionSize(Board_e section);
    uint8_t* SectionData(Board_e section) { return Data() + SectionOffset(section); }
    const uint8_t* SectionData(Board_e section) const { return Data() + SectionOffset(section); }

    // True when record byte 2494 is exactly 1: only then is the subsystem section transferred.
    bool IsSubsysPresent() const { return record.baseBoard.subsysPresent == 1; }

    // The sum modulo 2^32 of the section's bytes after its 4-byte checksum field.
    uint32_t ComputeChecksum(Board_e section) const;
    // Writes both sections' checksums into their headers (little-endian).
    void StoreChecksums();

    BoardConfigRecord_t record;
    BoardType_e boardType;
    FirmwareType_e firmwareType;
    Uri uri;
};

BMC_API std::ostream& operator<<(std::ostream& os, const BoardConfiguration& config);

// "    <label>: " and the slots of a mask ("none", "all" or "1,3"), then a line end.
BMC_API void PrintSlotMask(std::ostream& os, const std::string& label, uint64_t mask, unsigned int count, bool inverted);

// An application-specific subsystem identifier and its text.
using SubsystemIdPair_t = std::pair<uint8_t, std::string>;

// Reads a board configuration document's element tree into boardConfig. Set
// boardConfig.firmwareType first: it names the element read and the board-specific keys.
class BMC_API ConfigMng : public icfg::ISerializable {
public:
    // Appends the byte code of one statement to an area: (opcode, parameter width, the
    // mnemonic and parameters as written, area, used bytes). False after printing a message.
    using Expander_t = std::function<bool(unsigned int opcode, unsigned int size, const std::vector<std::string>& words,
                                          unsigned char* data, unsigned int* length)>;

    // A row of the script language's command table; the table ends with a null mnemonic.
    struct CmdList_t {
        uint32_t opcode;
        const char* mnemonic;
        unsigned int params;
        unsigned int size;
        Expander_t expander;
    };

    static const std::string cAll;     // "all"
    static const std::string cDefault; // "default"
    // Script text longer than this after parameter substitution is refused.
    static constexpr size_t c_maxScriptLength = 1u << 20;

    ConfigMng();
    explicit ConfigMng(const std::string& target);
    ~ConfigMng() override;

    // Zeroes both sections; board type, firmware type and URI stay.
    void Init();

    // The name of boardConfig.firmwareType: the element read under the document element.
    std::string GetClassName() override;
    // Base-board keys, subsystem-board keys, then the scripts. Throws on a malformed value,
    // leaving the record partly filled.
    bool Deserialize(const icfg::ElementList& elements) override;

    void BaseBoardSetProperties(const icfg::ElementList& elements);
    void SubsysBoardSetProperties(const icfg::ElementList& elements);
    // Compiles the scripts of "hw_init_data" into the three areas.
    void HwInitSetProperties(const icfg::ElementList& elements);

    // The section's script for the target, parameters substituted; specific is set when a
    // block named the target itself.
    std::string ReadCode(std::shared_ptr<icfg::Element>& section, bool& specific, const icfg::ElementList& params);
    // Compiles a script into an area (comments are removed from code). False for an empty
    // text or one without statements; a script error prints its message and throws.
    static bool HwInitParser(std::string& code, unsigned char* data, unsigned int* length);

    // Checks a configuration tool applies to values before it accepts them.
    bool IsValidStartupOrder(int value) const;
    bool IsValidSubsysBoardPresent(int value) const;
    bool IsValidSerialId(const std::string& text) const;
    bool IsValidCustomerId(const std::string& text) const;
    bool IsValidMacAddr(const std::string& text) const;
    bool BoardAndFirmwareTypesMatch() const;

    // "id[,text]"; the id is an unsigned decimal number of at most 254.
    static SubsystemIdPair_t StrToSubsystemIdPair(const std::string& text);
    // A slot list ("all", "none" or numbers separated by ",", blank or tab) as a mask, bit n-1
    // for slot n; false, mask untouched, unless name equals key.
    static bool ParseBitmask(std::shared_ptr<icfg::Element> element, const std::string& name, const std::string& key,
                             uint64_t& mask, unsigned int count, bool inverted);

    BoardConfiguration boardConfig;
    std::string target;

private:
    bool _SetHeaderKey(cfg_header& header, const icfg::ElementPtr& child, const std::string& name);
    void _SetIdentificationKeys(hwidentification& id, const icfg::ElementPtr& element);
    void _SetBoardSpecificKey(const icfg::ElementPtr& child, const std::string& name);
};

// The command table of the script language, searched in order up to its null row.
extern BMC_API const ConfigMng::CmdList_t cmdList[];

// The compiler's steps, each usable alone.
BMC_API bool IsValidCmd(const ConfigMng::CmdList_t* table, const std::string& mnemonic, ConfigMng::CmdList_t& row);
// A "0x" number read in hexadecimal (characters after it ignored); false otherwise.
BMC_API bool ParseCommandParams(const std::string& text, unsigned int& value);
BMC_API bool ParseCommandParams(const std::string& text, uint64_t& value);
// Replaces every occurrence of name in text by value, left to right; an inserted value is not
// searched again. Refuses (istd::Exception) a result above ConfigMng::c_maxScriptLength.
BMC_API void SubstituteHwInitParameter(std::string& text, const std::string& name, const std::string& value);

// A new length above c_hwInitAreaSize prints the overflow message and throws.
BMC_API bool HwInitDataSizeCheck(unsigned int newLength);
BMC_API bool HwInitDataAddUint8(uint8_t value, unsigned char* data, unsigned int* length);
BMC_API bool HwInitDataAddUint16(uint16_t value, unsigned char* data, unsigned int* length);
BMC_API bool HwInitDataAddUint32(uint32_t value, unsigned char* data, unsigned int* length);
BMC_API bool HwInitAddAMBAWriteDirect(uint32_t address, uint32_t value, unsigned char* data, unsigned int* length);
BMC_API bool HwInitAddDelay(unsigned char* data, unsigned int* length);
BMC_API bool HwInitAddI2CAMBAWrite(uint32_t base, uint32_t reg, uint32_t value, unsigned char* data, unsigned int* length);

// The expanders of the command table.
BMC_API bool AddNative(unsigned int opcode, unsigned int size, const std::vector<std::string>& words, unsigned char* data,
               unsigned int* length);
BMC_API bool HWSPIWMacro(unsigned int opcode, unsigned int size, const std::vector<std::string>& words, unsigned char* data,
                 unsigned int* length);
BMC_API bool HwExpandHWSI57XFREQMacro(unsigned int opcode, unsigned int size, const std::vector<std::string>& words,
                              unsigned char* data, unsigned int* length);

// The one configuration that opens and validates board configuration documents.
class BMC_API BoardConfig : public icfg::Configuration {
public:
    static BoardConfig& GetInstance();
    // Parses and validates the file against its schema; failures are thrown.
    static void Init(const std::string& file);

    ~BoardConfig() override;
    // Writes the text unchanged, without a line end, to standard output.
    void ErrorCallback(const std::string& text) override;

private:
    BoardConfig();
};

} // namespace bmc

#endif
