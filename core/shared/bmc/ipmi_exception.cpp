#include "bmc/ipmi_exception.h"

#include "istd/convert.h"

namespace bmc {

namespace {

// The standard IPMI completion codes, then the controller's real-time kernel errors (-10 to -2
// as bytes), then its flash programming status codes (1 to 11, plus 0x80).
const istd::Literal_t c_completionCodes[] = {
    {0xC0, "IPMI_CC_NODE_BUSY"},
    {0xC1, "IPMI_CC_INV_CMD"},
    {0xC2, "IPMI_CC_INV_CMD_FOR_LUN"},
    {0xC3, "IPMI_CC_TIMEOUT"},
    {0xC4, "IPMI_CC_OUT_OF_SPACE"},
    {0xC5, "IPMI_CC_RES_CANCELED"},
    {0xC6, "IPMI_CC_REQ_DATA_TRUNC"},
    {0xC7, "IPMI_CC_REQ_DATA_INV_LENGTH"},
    {0xC8, "IPMI_CC_REQ_DATA_FIELD_EXCEED"},
    {0xC9, "IPMI_CC_PARAM_OUT_OF_RANGE"},
    {0xCA, "IPMI_CC_CANT_RET_NUM_REQ_BYTES"},
    {0xCB, "IPMI_CC_REQ_DATA_NOT_PRESENT"},
    {0xCC, "IPMI_CC_INV_DATA_FIELD_IN_REQ"},
    {0xCD, "IPMI_CC_ILL_SENSOR_OR_RECORD"},
    {0xCE, "IPMI_CC_RESP_COULD_NOT_BE_PRV"},
    {0xCF, "IPMI_CC_CANT_RESP_DUPLI_REQ"},
    {0xD0, "IPMI_CC_CANT_RESP_SDRR_UPDATE"},
    {0xD1, "IPMI_CC_CANT_RESP_FIRM_UPDATE"},
    {0xD2, "IPMI_CC_CANT_RESP_BMC_INIT"},
    {0xD3, "IPMI_CC_DESTINATION_UNAVAILABLE"},
    {0xD4, "IPMI_CC_INSUFFICIENT_PRIVILEGES"},
    {0xD5, "IPMI_CC_NOT_SUPPORTED_PRESENT_STATE"},
    {0xD6, "IPMI_CC_ILLEGAL_COMMAND_DISABLED"},
    {0xFF, "IPMI_CC_UNSPECIFIED_ERROR"},
    {0xF6, "IPMI_TNKERNEL_TERR_DLT"},
    {0xF7, "IPMI_TNKERNEL_TERR_NOEXS"},
    {0xF8, "IPMI_TNKERNEL_TERR_ILUSE"},
    {0xF9, "IPMI_TNKERNEL_TERR_OUT_OF_MEM"},
    {0xFA, "IPMI_TNKERNEL_TERR_UNDERFLOW"},
    {0xFB, "IPMI_TNKERNEL_TERR_WRONG_PARAM"},
    {0xFC, "IPMI_TNKERNEL_TERR_TIMEOUT"},
    {0xFD, "IPMI_TNKERNEL_TERR_WSTATE"},
    {0xFE, "IPMI_TNKERNEL_TERR_WCONTEXT"},
    {0x81, "IAP_INVALID_COMMAND"},
    {0x82, "IAP_SRC_ADDR_ERROR"},
    {0x83, "IAP_DST_ADDR_ERROR"},
    {0x84, "IAP_SRC_ADDR_NOT_MAPPED"},
    {0x85, "IAP_DST_ADDR_NOT_MAPPED"},
    {0x86, "IAP_COUNT_ERROR"},
    {0x87, "IAP_INVALID_SECTOR"},
    {0x88, "IAP_SECTOR_NOT_BLANK"},
    {0x89, "IAP_SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION"},
    {0x8A, "IAP_COMPARE_ERROR"},
    {0x8B, "IAP_BUSY"},
    {0, nullptr},
};

} // namespace

IpmiException::IpmiException(int code, const char* text, bool flag)
    : istd::Exception(CreateMessage(text, code), flag), m_code(code)
{
}

IpmiException::~IpmiException() = default;

int IpmiException::GetCode() const
{
    return m_code;
}

std::string IpmiException::CreateMessage(const char* text, int code)
{
    std::string message = text != nullptr ? text : "";
    message += " (";
    message += istd::NumericToTextual(c_completionCodes, code);
    message += ")";
    return message;
}

} // namespace bmc
