// The board configuration record, its reader from a board configuration document and its
// printers. The documents come from people and records read back from boards from the boards'
// storage: a malformed value is refused with a message that names its key, and a text field is
// never read past its own bytes.

#include "bmc/config_mng.h"

#include <algorithm>
#include <bitset>
#include <cctype>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "istd/convert.h"
#include "istd/exception.h"
#include "istd/time.h"
#include "istd/trace.h"

namespace {

// Copies at most width - 1 characters and pads the rest of the field with NUL bytes, so a key
// given twice leaves the later text alone rather than its head over the earlier one's tail.
void _CopyText(char* field, size_t width, const std::string& text)
{
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(text.size(), width - 1));
}

// The text of a field up to its first NUL, at most maxLength characters.
std::string _FieldText(const char* field, size_t maxLength)
{
    return std::string(field, strnlen(field, maxLength));
}

std::string _Untrimmed(const icfg::ElementPtr& element)
{
    std::string text;
    element->GetUntrimedValue(text);
    return text;
}

void _PrintHeader(std::ostream& os, const cfg_header& header)
{
    os << "Baseboard configuration:\n"
       << "    CRC code: " << std::hex << header.crcCode << "\n"
       << "    Magic code: " << header.magicCode << std::dec << "\n"
       << "    Struct ver.: " << static_cast<unsigned int>(header.structureVersion) << "\n"
       << "    Time create: " << istd::Time(static_cast<unsigned int>(header.timeCreate)) << "\n"
       << "    Time modify: " << istd::Time(static_cast<unsigned int>(header.timeModify)) << "\n"
       << "    Revision: " << _FieldText(header.revisionStr, sizeof(header.revisionStr)) << "\n";
}

void _PrintIdentification(std::ostream& os, const hwidentification& id)
{
    os << "    HW identification data:\n"
       << "       Application identifier: " << static_cast<applicationId_e>(id.applicationIdentifier) << "\n"
       << "       Application specific subsystem identifier: " << static_cast<unsigned int>(id.subsystemIdentifier)
       << "\n"
       << "       HW revision number: " << static_cast<hwRevisions_e>(id.hwRevisionNumber) << "\n"
       << "       Unique customer identification string: "
       << _FieldText(id.customerIdString, sizeof(id.customerIdString) - 1) << "\n"
       << "       Serial identification string: " << _FieldText(id.serialNoString, sizeof(id.serialNoString) - 1)
       << "\n"
       << "       Component history record string: "
       << _FieldText(id.hystoryRecordString, sizeof(id.hystoryRecordString) - 1) << "\n";
}

// "    HW ... data:", its size and a dump of the area's first 128 bytes, whatever the length.
void _PrintArea(std::ostream& os, const char* title, uint32_t length, const uint8_t* area)
{
    os << title << "\n"
       << "       Size: " << length << "\n"
       << "       Memory dump: \n"
       << istd::HexDump(area, 128, 16, true);
}

} // namespace

// Both printers build their text first: a code without a name fails before anything is written.
std::ostream& operator<<(std::ostream& os, const cfg_header& header)
{
    std::ostringstream text;
    _PrintHeader(text, header);
    return os << text.str();
}

std::ostream& operator<<(std::ostream& os, const hwidentification& id)
{
    std::ostringstream text;
    _PrintIdentification(text, id);
    return os << text.str();
}

namespace bmc {

namespace {

icfg::ElementPtr _FirstElement(const icfg::ElementList& elements)
{
    if (elements.empty() || !elements.front()) {
        throw istd::Exception("bmc: The board configuration document has no element to read.", true);
    }
    return elements.front();
}

// An integer key as the configuration library converts it; a text that does not convert is
// refused rather than leaving the field as it happened to be.
int _IntKey(const icfg::ElementPtr& child, const std::string& key)
{
    int value = 0;
    if (!child->GetValue<int>(value)) {
        throw istd::Exception("bmc: Invalid integer value of \"" + key + "\": '" + child->GetValue() + "'", true);
    }
    return value;
}

uint32_t _HexKey(const icfg::ElementPtr& child, const std::string& key)
{
    const std::string text = child->GetValue();
    try {
        return istd::HexTo<uint32_t>(text);
    } catch (const istd::Exception&) {
        throw istd::Exception("bmc: Invalid hexadecimal value of \"" + key + "\": '" + text + "'", true);
    }
}

template <class E>
uint8_t _EnumKey(const std::string& text)
{
    return static_cast<uint8_t>(istd::EnumCast<E>(text));
}

void _Store32(uint8_t* at, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t _Load32(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

} // namespace

const std::string ConfigMng::cAll = "all";
const std::string ConfigMng::cDefault = "default";

BoardConfiguration::BoardConfiguration() : boardType(eBoardTypeInvalid), firmwareType(eFirmwareTypeInvalid)
{
    std::memset(&record, 0, sizeof(record));
}

size_t BoardConfiguration::SectionOffset(Board_e section)
{
    return section == eBoardSubsys ? offsetof(BoardConfigRecord_t, subsysBoard) : 0;
}

size_t BoardConfiguration::SectionSize(Board_e section)
{
    return section == eBoardSubsys ? sizeof(SubsysBoardConfig_t) : sizeof(BaseBoardConfig_t);
}

uint32_t BoardConfiguration::ComputeChecksum(Board_e section) const
{
    const uint8_t* bytes = SectionData(section);
    uint32_t sum = 0;
    for (size_t i = sizeof(uint32_t); i < SectionSize(section); ++i) {
        sum += bytes[i];
    }
    return sum;
}

void BoardConfiguration::StoreChecksums()
{
    for (Board_e section : {eBoardBase, eBoardSubsys}) {
        _Store32(SectionData(section), ComputeChecksum(section));
    }
}

void PrintSlotMask(std::ostream& os, const std::string& label, uint64_t mask, unsigned int count, bool inverted)
{
    os << "    " << label << ": ";
    const size_t population = std::bitset<64>(mask).count();
    if (mask == 0) {
        os << (inverted ? "all" : "none");
    } else if (population == count) {
        os << (inverted ? "none" : "all");
    } else {
        const char* separator = "";
        for (unsigned int slot = 1; slot <= count && slot <= 64; ++slot) {
            const bool set = (mask >> (slot - 1)) & 1;
            if (set != inverted) {
                os << separator << slot;
                separator = ",";
            }
        }
    }
    os << "\n";
}

std::ostream& operator<<(std::ostream& os, const BoardConfiguration& config)
{
    ISTD_TRACE_FNC("std::ostream& bmc::operator<<(std::ostream&, const bmc::BoardConfiguration&)");
    const BaseBoardConfig_t& base = config.record.baseBoard;
    const SubsysBoardConfig_t& subsys = config.record.subsysBoard;
    const uint8_t* section = config.SectionData(eBoardBase);
    if (base.header.magicCode != c_configMagic) {
        return os << "Board has no configuration written yet!\n";
    }
    if (config.firmwareType == eFirmwareTypeInvalid || config.firmwareType == eFirmwareTypeUnknown) {
        return os << "Firmware type is unknown - can't read configuration!\n";
    }
    std::ostringstream text;
    text << "Baseboard configuration:\n";
    _PrintHeader(text, base.header);
    text << "    FPGA Image read timeout: " << base.fpgaImageReadTimeout << "\n"
         << "    BoardType: " << static_cast<BoardType_e>(base.boardType) << "\n";
    switch (config.firmwareType) {
    case eFirmwareTypeKOZ: {
        text << "    ARM Ethernet controller MAC address: " << std::hex << std::setfill('0');
        for (size_t i = 0; i < 6; ++i) {
            text << (i ? ":" : "") << std::setw(2) << static_cast<unsigned int>(section[c_kozMacOffset + i]);
        }
        text << std::dec << std::setfill(' ') << "\n";
        PrintSlotMask(text, "Ignore satellites", section[c_kozIgnoreSatellitesOffset], 8, true);
        break;
    }
    case eFirmwareTypeWRP:
    case eFirmwareTypeMOKVE:
    case eFirmwareTypeHUMVA:
    case eFirmwareTypeJY:
        PrintSlotMask(text, "Platform B compatible slots", _Load32(section + c_platformBSlotsOffset), 8, false);
        PrintSlotMask(text, "uTCA compatible slots", _Load32(section + c_utcaSlotsOffset), 12, false);
        break;
    default:
        break;
    }
    _PrintIdentification(text, base.hwId);
    text << "       Zero based board startup order: " << static_cast<unsigned int>(base.startupOrder) << "\n"
         << "       Subsystem board present: " << (base.subsysPresent != 0 ? "1" : "0") << "\n";
    _PrintArea(text, "    HW initialization data:", base.hwInitLength, base.hwInitData);
    text << "\n";
    _PrintArea(text, "    HW post initialization data:", base.hwPostInitLength, base.hwPostInitData);
    if (base.subsysPresent == 1) {
        text << "Subsystem board configuration:";
        _PrintHeader(text, subsys.header);
        _PrintIdentification(text, subsys.hwId);
        _PrintArea(text, "    HW initialization data:", subsys.hwInitLength, subsys.hwInitData);
        text << "\n";
    } else {
        text << "Subsystem board is not present\n";
    }
    return os << text.str();
}

ConfigMng::ConfigMng() : target(cDefault)
{
    ISTD_TRACE_FNC("bmc::ConfigMng::ConfigMng()");
    Init();
}

ConfigMng::ConfigMng(const std::string& targetName) : target(targetName)
{
    ISTD_TRACE_FNC("bmc::ConfigMng::ConfigMng(const std::string&)");
    Init();
}

ConfigMng::~ConfigMng() = default;

void ConfigMng::Init()
{
    std::memset(&boardConfig.record, 0, sizeof(boardConfig.record));
}

std::string ConfigMng::GetClassName()
{
    return istd::EnumToString(boardConfig.firmwareType);
}

bool ConfigMng::Deserialize(const icfg::ElementList& elements)
{
    ISTD_TRACE_FNC("virtual bool bmc::ConfigMng::Deserialize(const icfg::ElementList&)");
    _FirstElement(elements);
    BaseBoardSetProperties(elements);
    SubsysBoardSetProperties(elements);
    HwInitSetProperties(elements);
    return true;
}

bool ConfigMng::_SetHeaderKey(cfg_header& header, const icfg::ElementPtr& child, const std::string& name)
{
    if (name == "magic_code") {
        header.magicCode = _HexKey(child, name);
    } else if (name == "structure_version") {
        header.structureVersion = static_cast<uint8_t>(_IntKey(child, name));
    } else if (name == "revision_str") {
        _CopyText(header.revisionStr, sizeof(header.revisionStr), _Untrimmed(child));
    } else {
        return false;
    }
    return true;
}

void ConfigMng::_SetIdentificationKeys(hwidentification& id, const icfg::ElementPtr& element)
{
    ISTD_TRACE_FNC("void bmc::ConfigMng::_SetIdentificationKeys(hwidentification&, const icfg::ElementPtr&)");
    for (const icfg::ElementPtr& child : element->GetChildren()) {
        const std::string name = child->GetName();
        if (name == "application_identifier") {
            id.applicationIdentifier = _EnumKey<applicationId_e>(_Untrimmed(child));
        } else if (name == "subsystem_identifier") {
            id.subsystemIdentifier = StrToSubsystemIdPair(_Untrimmed(child)).first;
        } else if (name == "hw_revision_number") {
            id.hwRevisionNumber = _EnumKey<hwRevisions_e>(child->GetValue());
        } else if (name == "customer_id_string") {
            _CopyText(id.customerIdString, sizeof(id.customerIdString), child->GetValue());
        } else if (name == "serial_no_string") {
            _CopyText(id.serialNoString, sizeof(id.serialNoString), child->GetValue());
        } else if (name == "hystory_record_string") {
            _CopyText(id.hystoryRecordString, sizeof(id.hystoryRecordString), _Untrimmed(child));
        }
    }
}

void ConfigMng::_SetBoardSpecificKey(const icfg::ElementPtr& child, const std::string& name)
{
    uint8_t* section = boardConfig.SectionData(eBoardBase);
    uint64_t mask = 0;
    switch (boardConfig.firmwareType) {
    case eFirmwareTypeKOZ:
        if (name == "management_ethernet_MAC") {
            const std::string text = child->GetValue();
            if (!IsValidMacAddr(text)) {
                throw istd::Exception("bmc: Invalid MAC address of \"" + name + "\": '" + text +
                                          "' (12 hexadecimal digits expected)",
                                      true);
            }
            for (size_t i = 0; i < 6; ++i) {
                section[c_kozMacOffset + i] = static_cast<uint8_t>(std::stoul(text.substr(2 * i, 2), nullptr, 16));
            }
        }
        if (ParseBitmask(child, name, "ignore_satellites", mask, 8, true)) {
            section[c_kozIgnoreSatellitesOffset] = static_cast<uint8_t>(mask);
        }
        break;
    case eFirmwareTypeWRP:
    case eFirmwareTypeMOKVE:
    case eFirmwareTypeHUMVA:
    case eFirmwareTypeJY:
        if (ParseBitmask(child, name, "platform_b_crate_compatible_slots", mask, 8, false)) {
            _Store32(section + c_platformBSlotsOffset, static_cast<uint32_t>(mask));
        }
        if (ParseBitmask(child, name, "utca_crate_compatible_slots", mask, 12, false)) {
            _Store32(section + c_utcaSlotsOffset, static_cast<uint32_t>(mask));
        }
        break;
    default:
        break;
    }
}

void ConfigMng::BaseBoardSetProperties(const icfg::ElementList& elements)
{
    ISTD_TRACE_FNC("void bmc::ConfigMng::BaseBoardSetProperties(const icfg::ElementList&)");
    const icfg::ElementPtr root = _FirstElement(elements);
    BaseBoardConfig_t& base = boardConfig.record.baseBoard;
    if (const icfg::ElementPtr section = root->FindSubtree("base_board")) {
        for (const icfg::ElementPtr& child : section->GetChildren()) {
            const std::string name = child->GetName();
            if (_SetHeaderKey(base.header, child, name)) {
                continue;
            }
            if (name == "fpga_image_read_timeout") {
                base.fpgaImageReadTimeout = static_cast<uint32_t>(_IntKey(child, name));
            } else if (name == "board_type") {
                base.boardType = _EnumKey<BoardType_e>(child->GetValue());
            } else {
                _SetBoardSpecificKey(child, name);
            }
        }
    }
    if (const icfg::ElementPtr data = root->FindSubtree("bb_hw_id_data")) {
        for (const icfg::ElementPtr& child : data->GetChildren()) {
            const std::string name = child->GetName();
            if (name == "startup_order") {
                base.startupOrder = static_cast<uint8_t>(_IntKey(child, name));
            } else if (name == "subsys_present") {
                base.subsysPresent = child->GetValue() == "true" ? 1 : 0;
            }
        }
    }
    if (const icfg::ElementPtr common = root->FindSubtree("bb_hw_id_data_common")) {
        _SetIdentificationKeys(base.hwId, common);
    }
}

void ConfigMng::SubsysBoardSetProperties(const icfg::ElementList& elements)
{
    ISTD_TRACE_FNC("void bmc::ConfigMng::SubsysBoardSetProperties(const icfg::ElementList&)");
    const icfg::ElementPtr root = _FirstElement(elements);
    SubsysBoardConfig_t& subsys = boardConfig.record.subsysBoard;
    if (const icfg::ElementPtr section = root->FindSubtree("subsystem_board")) {
        for (const icfg::ElementPtr& child : section->GetChildren()) {
            _SetHeaderKey(subsys.header, child, child->GetName());
        }
    }
    if (const icfg::ElementPtr common = root->FindSubtree("sb_hw_id_data_common")) {
        _SetIdentificationKeys(subsys.hwId, common);
    }
}

bool ConfigMng::IsValidStartupOrder(int value) const
{
    return static_cast<unsigned int>(value) <= 8;
}

bool ConfigMng::IsValidSubsysBoardPresent(int value) const
{
    return static_cast<unsigned int>(value) <= 1;
}

bool ConfigMng::IsValidSerialId(const std::string& text) const
{
    return text.size() <= 32;
}

bool ConfigMng::IsValidCustomerId(const std::string& text) const
{
    return text.size() <= 4;
}

bool ConfigMng::IsValidMacAddr(const std::string& text) const
{
    return text.size() == 12 &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

bool ConfigMng::BoardAndFirmwareTypesMatch() const
{
    const unsigned int board = boardConfig.record.baseBoard.boardType;
    switch (boardConfig.firmwareType) {
    case eFirmwareTypeHUMVA:
        for (BoardType_e type : {eBoardTypePAX, eBoardTypeK7N, eBoardTypeDWO, eBoardTypeQEV, eBoardTypeWYQ,
                                 eBoardTypeOBLIN, eBoardTypeZEK, eBoardTypeZOLT}) {
            if (board == static_cast<unsigned int>(type)) {
                return true;
            }
        }
        return false;
    case eFirmwareTypeMOKVE:
        return board == eBoardTypeNUSTA || board == eBoardTypePELOX;
    default:
        return board == static_cast<unsigned int>(boardConfig.firmwareType);
    }
}

SubsystemIdPair_t ConfigMng::StrToSubsystemIdPair(const std::string& text)
{
    ISTD_TRACE_FNC("static bmc::SubsystemIdPair_t bmc::ConfigMng::StrToSubsystemIdPair(const std::string&)");
    const std::vector<std::string> pieces = istd::TokenizeString(text, ",");
    const std::string number = pieces.empty() ? std::string() : istd::TrimString(pieces[0]);
    unsigned int id = 0;
    bool valid = !number.empty();
    for (char c : number) {
        if (c < '0' || c > '9') {
            valid = false;
            break;
        }
        id = id * 10 + static_cast<unsigned int>(c - '0');
        if (id > 254) {
            valid = false;
            break;
        }
    }
    if (!valid) {
        throw istd::Exception("bmc: Invalid subsystem ID: " + text, true);
    }
    SubsystemIdPair_t pair(static_cast<uint8_t>(id), pieces.size() > 1 ? pieces[1] : std::string());
    ISTD_TRACE(3, "Subsystem ID: '" << text << "' --> " << id << "/'" << pair.second << "'");
    return pair;
}

bool ConfigMng::ParseBitmask(std::shared_ptr<icfg::Element> element, const std::string& name, const std::string& key,
                             uint64_t& mask, unsigned int count, bool inverted)
{
    ISTD_TRACE_FNC("static bool bmc::ConfigMng::ParseBitmask(std::shared_ptr<icfg::Element>, const std::string&, "
                   "const std::string&, uint64_t&, unsigned int, bool)");
    if (name != key) {
        return false;
    }
    const uint64_t all = count >= 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
    const std::string text = element->GetValue();
    uint64_t result = 0;
    if (text == "all") {
        result = inverted ? 0 : all;
    } else if (text == "none") {
        result = inverted ? all : 0;
    } else {
        result = inverted ? all : 0;
        for (const std::string& piece : istd::TokenizeString(text, ", \t")) {
            const unsigned int slot = istd::FromString<unsigned int>(piece);
            if (slot == 0 || slot > 64) {
                throw std::out_of_range("bmc: Slot number " + piece + " of \"" + key + "\" is out of range");
            }
            const uint64_t bit = uint64_t{1} << (slot - 1);
            result = inverted ? result & ~bit : result | bit;
        }
    }
    if (result > 0xFFFFFFFFu) {
        throw std::overflow_error("bmc: Slot mask of \"" + key + "\" does not fit in 32 bits: '" + text + "'");
    }
    mask = result;
    return true;
}

BoardConfig::BoardConfig() : icfg::Configuration("1.0", "/opt/kavrel/xsd/2.8/types.xsd")
{
}

BoardConfig::~BoardConfig() = default;

BoardConfig& BoardConfig::GetInstance()
{
    static BoardConfig instance;
    return instance;
}

void BoardConfig::Init(const std::string& file)
{
    ISTD_TRACE_FNC("static void bmc::BoardConfig::Init(const std::string&)");
    GetInstance().OpenDocument(file, true);
}

void BoardConfig::ErrorCallback(const std::string& text)
{
    std::cout << text << std::flush;
}

} // namespace bmc
