#include "bmc/hpi_connection.h"

#include <atomic>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include <SaHpi.h>
#include <glib.h>
#include <oh_utils.h>

#include "istd/convert.h"
#include "istd/enum_map.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/trace.h"
#include "bmc/board.h"
#include "bmc/board_pool.h"
#include "bmc/clock.h"
#include "bmc/ipmi_connection.h"
#include "bmc/sensor_reading.h"

namespace bmc {

namespace {

const char c_unsupported[] = "bmc: Unsupported command (HPI).";

// Entity types and data record types are read as plain numbers: a daemon may send values no
// enumerator names, and the lookups only get values of the enumerations' own ranges.
constexpr int32_t c_lastEntityType = 0x1FFFF;
static_assert(sizeof(SaHpiEntityTypeT) == sizeof(int32_t) && sizeof(SaHpiRdrTypeT) == sizeof(int32_t),
              "enumerations read as 32-bit numbers");

// The OpenHPI client library spends a pthread key on every session it opens, or tries to open,
// and never gives it back; glib aborts the process when the keys run out (after about a
// thousand sessions). A process that retries without a daemon would end so: it opens at most
// this many and is refused the others.
constexpr int c_maxSessionOpens = 500;

// The session every HPI connection and enumeration shares. Never destroyed: connections
// destroyed at exit still close it.
struct HpiSession {
    std::mutex lock;
    SaHpiSessionIdT id = 0; // 0: no session open
    int32_t connections = 0;
    int opens = 0; // sessions opened or tried

    static HpiSession& Instance()
    {
        static HpiSession* const s_session = new HpiSession();
        return *s_session;
    }
};

std::atomic<const HpiFunctions*> g_functions{nullptr};

std::atomic<bool> g_logLibraryMessages{false};

// A library message as long as this is written whole; longer ones are cut.
constexpr size_t c_maxLibraryMessage = 1000;

void LibraryMessage(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer)
{
    std::string text = std::string("HPI library: ") + (domain != nullptr ? domain : "") + ": " +
                       (message != nullptr ? message : "");
    if (text.size() > c_maxLibraryMessage) {
        text.resize(c_maxLibraryMessage);
        text += "...";
    }
    const bool serious = (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) != 0;
    if (serious && g_logLibraryMessages.load()) {
        istd::LogWarning(text);
    } else {
        ISTD_TRACE(serious ? 1 : 3, text);
    }
}

// Before the first session: from then on the library may speak.
void RouteLibraryMessages()
{
    static std::once_flag s_once;
    std::call_once(s_once, [] {
        const auto levels = static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
        for (const char* domain : {"transport", "baselib", "utils", "marshal"}) {
            g_log_set_handler(domain, levels, LibraryMessage, nullptr);
        }
    });
}

const HpiFunctions& Hpi()
{
    const HpiFunctions* functions = g_functions.load();
    return functions != nullptr ? *functions : HpiFunctions::Real();
}

std::string ErrorText(SaErrorT error)
{
    const char* text = oh_lookup_error(error);
    return text != nullptr ? text : "";
}

int32_t EntityType(const SaHpiEntityT& entity)
{
    int32_t type = 0;
    std::memcpy(&type, &entity.EntityType, sizeof type);
    return type;
}

std::string EntityTypeName(int32_t type)
{
    if (type >= 0 && type <= c_lastEntityType) {
        const auto value = static_cast<SaHpiEntityTypeT>(type);
        if (const char* name = oh_lookup_atcahpientitytype(value)) {
            return name;
        }
        if (const char* name = oh_lookup_entitytype(value)) {
            return name;
        }
    }
    return "??";
}

// "{AMC(65561)/5}{SYSTEM_CHASSIS(23)/1}", up to the root.
std::string EntityPathText(const SaHpiEntityPathT& path)
{
    std::ostringstream text;
    for (const SaHpiEntityT& entity : path.Entry) {
        const int32_t type = EntityType(entity);
        if (type == SAHPI_ENT_ROOT_VALUE) {
            break;
        }
        text << "{" << EntityTypeName(type) << "(" << type << ")/" << entity.EntityLocation << "}";
    }
    return text.str();
}

// The buffer's first DataLength bytes, whatever its data type and language, trimmed.
std::string TagText(const SaHpiTextBufferT& buffer)
{
    static_assert(sizeof buffer.Data >= 255, "DataLength never points past the buffer");
    return istd::TrimString(std::string(reinterpret_cast<const char*>(buffer.Data), buffer.DataLength));
}

bool SubSystemOf(int32_t entityType, Uri::SubSystem_e& subSystem)
{
    switch (entityType) {
    case SAHPI_ENT_AMC:
        subSystem = Uri::eAmc;
        return true;
    case SAHPI_ENT_BACK_PANEL_BOARD:
        subSystem = Uri::eTrm;
        return true;
    case SAHPI_ENT_COOLING_UNIT:
        subSystem = Uri::eCu;
        return true;
    case SAHPI_ENT_POWER_SUPPLY:
        subSystem = Uri::ePs;
        return true;
    case SAHPI_ENT_SWITCH_BLADE:
        subSystem = Uri::eMch;
        return true;
    default:
        return false;
    }
}

// Both are called with the session lock held.
void CloseSession(HpiSession& session)
{
    ISTD_TRACE_FNC("void bmc::CloseHpiSession()");
    if (session.id == 0) {
        return;
    }
    const SaErrorT error = Hpi().sessionClose(session.id);
    session.id = 0;
    if (error != SA_OK) {
        ISTD_TRACE(1, "Ignored saHpiSessionClose error :" << ErrorText(error));
    }
}

void OpenSession(HpiSession& session)
{
    ISTD_TRACE_FNC("void bmc::OpenHpiSession()");
    if (session.id != 0) {
        return;
    }
    if (session.opens >= c_maxSessionOpens) {
        throw istd::Exception("bmc: HPI error on open :no more sessions for this process (" +
                                  std::to_string(c_maxSessionOpens) + " opened)",
                              true);
    }
    ++session.opens;
    RouteLibraryMessages();
    const HpiFunctions& hpi = Hpi();
    ISTD_TRACE(2, "HPI interface version: " << std::hex << hpi.versionGet());
    SaHpiSessionIdT id = 0;
    SaErrorT error = hpi.sessionOpen(SAHPI_UNSPECIFIED_DOMAIN_ID, &id, nullptr);
    if (error != SA_OK) {
        session.id = 0;
        throw istd::Exception("bmc: HPI error on open :" + ErrorText(error), true);
    }
    session.id = id;
    error = hpi.discover(session.id);
    if (error != SA_OK) {
        CloseSession(session);
        throw istd::Exception("bmc: HPI error on discover :" + ErrorText(error), true);
    }
    ISTD_TRACE(4, "HPI session id: " << session.id);
}

SaHpiSessionIdT OpenedSession()
{
    HpiSession& session = HpiSession::Instance();
    std::lock_guard<std::mutex> lock(session.lock);
    OpenSession(session);
    return session.id;
}

// Boards of one enumeration; a board replaced under its URI is deleted.
using OwnedBoards = std::map<Uri, std::unique_ptr<Board>>;

// Makes the board of one resource, when it is usable, and enters it.
void EnterResource(const SaHpiRptEntryT& entry, OwnedBoards& boards)
{
    ISTD_TRACE(2, "HPI Entity: " << EntityPathText(entry.ResourceEntity));
    const std::string name = TagText(entry.ResourceTag);
    ISTD_TRACE(1, entry.ResourceId << ", " << entry.EntryId << ": " << name << ": "
                                   << (entry.ResourceFailed ? "not " : "is ") << "accessible");
    if (entry.ResourceFailed) {
        return;
    }
    const SaHpiResourceInfoT& info = entry.ResourceInfo;
    ISTD_TRACE(2, "HPI ResourceInfo: rev: " << unsigned{info.ResourceRev} << " dev sup: "
                                            << unsigned{info.DeviceSupport} << std::hex << " man-id: 0x"
                                            << info.ManufacturerId << " prod-id: 0x" << info.ProductId
                                            << " fw-rev: " << unsigned{info.FirmwareMajorRev} << "."
                                            << unsigned{info.FirmwareMinorRev} << " aux-rev: "
                                            << unsigned{info.AuxFirmwareRev}
                                            << " guid: " << istd::HexDump(info.Guid, 16, 16, false));

    const SaHpiEntityT& self = entry.ResourceEntity.Entry[0];
    Uri::SubSystem_e subSystem = Uri::eUnknown;
    if (!SubSystemOf(EntityType(self), subSystem)) {
        ISTD_TRACE(2, "Ignored HPI Entity of type: " << EntityType(self));
        return;
    }
    const Uri uri(subSystem, static_cast<int>(static_cast<int32_t>(self.EntityLocation)), Uri::eInterfaceDefault);
    auto* connection = dynamic_cast<HpiConnection*>(ConnectionPool::Instance().GetConnection(uri));
    if (connection == nullptr) {
        return;
    }
    BoardType_e type = eBoardTypeUTCA;
    istd::EnumMap<BoardType_e>::items.FindValue(name, type);
    // The board asks its connection for its identity while it is constructed.
    connection->SetHpiRptEntry(entry);
    connection->SetBoardType(type);
    ISTD_TRACE(2, "Detected board: " << uri.ToString());
    std::unique_ptr<Board> board(CreateBoard(uri, eBoardPowerMngMain, name));
    boards[uri] = std::move(board);
}

BoardMap Release(OwnedBoards& owned)
{
    BoardMap boards;
    for (const auto& entry : owned) {
        boards.emplace(entry.first, nullptr);
    }
    // No allocation from here on: every key is in place.
    for (auto& entry : owned) {
        boards[entry.first] = entry.second.release();
    }
    return boards;
}

} // namespace

const HpiFunctions& HpiFunctions::Real()
{
    static const HpiFunctions s_real{&saHpiVersionGet, &saHpiSessionOpen, &saHpiDiscover,
                                     &saHpiSessionClose, &saHpiRptEntryGet, &saHpiRdrGet};
    return s_real;
}

void SetHpiFunctions(const HpiFunctions* functions)
{
    g_functions.store(functions);
}

bool UsesHpi(const Uri& uri)
{
    if (!uri.IsLocal()) {
        return false;
    }
    switch (uri.GetSubSystem()) {
    case Uri::eAmc:
        return uri.GetInterface() == Uri::eInterfaceDefault || uri.GetInterface() == Uri::eInterfaceHpi;
    case Uri::eTrm:
    case Uri::eCu:
    case Uri::ePs:
    case Uri::eMch:
        return true;
    case Uri::eChassis:
    case Uri::eOs:
    case Uri::eTest:
    case Uri::eUnknown:
        return false;
    }
    return false;
}

void LogHpiLibraryMessages(bool logged)
{
    g_logLibraryMessages.store(logged);
}

HpiConnection::HpiConnection(const Uri& uri)
    : Connection(uri), m_rptEntry(std::make_unique<SaHpiRptEntryT>()), m_boardType(eBoardTypeInvalid)
{
    ISTD_TRACE_FNC("bmc::HpiConnection::HpiConnection(const bmc::Uri&)");
    HpiSession& session = HpiSession::Instance();
    std::lock_guard<std::mutex> lock(session.lock);
    ++session.connections;
}

HpiConnection::~HpiConnection()
{
    ISTD_TRACE_FNC("virtual bmc::HpiConnection::~HpiConnection()");
    HpiSession& session = HpiSession::Instance();
    std::lock_guard<std::mutex> lock(session.lock);
    if (--session.connections < 1) {
        CloseSession(session);
    }
}

void HpiConnection::Open()
{
    ISTD_TRACE_FNC("virtual void bmc::HpiConnection::Open()");
    HpiSession& session = HpiSession::Instance();
    std::lock_guard<std::mutex> lock(session.lock);
    OpenSession(session);
}

void HpiConnection::Close()
{
}

void HpiConnection::SetHpiRptEntry(const SaHpiRptEntryT& entry)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    *m_rptEntry = entry;
}

void HpiConnection::SetBoardType(BoardType_e type)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_boardType = type;
}

void HpiConnection::Execute(unsigned int command, const std::vector<istd::AnyReference>& /*args*/,
                            istd::AnyReference result)
{
    ISTD_TRACE_FNC("virtual void bmc::HpiConnection::Execute(unsigned int, const std::vector<istd::AnyReference>&, "
                   "istd::AnyReference)");
    std::lock_guard<std::mutex> lock(m_mutex);
    Open();
    switch (GetCommandSupport(eConnectionHpi, command)) {
    case eCommandRefused:
        throw istd::Exception(c_unsupported, true);
    case eCommandIgnored:
    case eCommandNothing:
        return;
    case eCommandServed:
        break;
    }
    switch (command) {
    case eCmdGetSDRInfo:
        result = 0u;
        break;
    case eCmdReadSensor:
        result = SensorReading(Clock::Now(3));
        break;
    case eCmdGetTime:
        result = Clock::Now(3);
        break;
    case eCmdGetDeviceId: {
        ipm_devid_ext_rsp identity{};
        identity.deviceId = static_cast<uint8_t>(m_boardType);
        identity.productId[1] =
            static_cast<uint8_t>(m_boardType <= 241 ? eFirmwareTypeHUMVA : eFirmwareTypeUnknown);
        identity.extension[3] = eBoardStatusRunning;
        result = identity;
        break;
    }
    default:
        throw istd::Exception(c_unsupported, true);
    }
}

BoardMap EnumerateHpiBoards()
{
    ISTD_TRACE_FNC("bmc::BoardMap bmc::EnumerateHpiBoards()");
    OwnedBoards boards;
    try {
        const SaHpiSessionIdT session = OpenedSession();
        // A resource table that leads back to an entry already seen would be walked forever.
        std::set<SaHpiEntryIdT> seen;
        SaHpiEntryIdT entryId = SAHPI_FIRST_ENTRY;
        while (seen.insert(entryId).second) {
            SaHpiEntryIdT next = SAHPI_LAST_ENTRY;
            SaHpiRptEntryT entry{};
            const SaErrorT error = Hpi().rptEntryGet(session, entryId, &next, &entry);
            if (error != SA_OK) {
                ISTD_TRACE(1, "saHpiRptEntryGet error :" << ErrorText(error));
                return Release(boards);
            }
            EnterResource(entry, boards);
            if (next == SAHPI_LAST_ENTRY) {
                return Release(boards);
            }
            entryId = next;
        }
        ISTD_TRACE(1, "bmc: HPI resource table leads back to entry " << entryId);
    } catch (const std::exception& e) {
        ISTD_TRACE(2, "Can't enumerate HPI boards: " << e.what());
    }
    return Release(boards);
}

void EnumerateSensors(const SaHpiRptEntryT& entry)
{
    ISTD_TRACE_FNC("void bmc::EnumerateSensors(const bmc::SaHpiRptEntryT&)");
    if ((entry.ResourceCapabilities & SAHPI_CAPABILITY_RDR) == 0) {
        return;
    }
    SaHpiSessionIdT session = 0;
    {
        HpiSession& state = HpiSession::Instance();
        std::lock_guard<std::mutex> lock(state.lock);
        session = state.id;
    }
    std::set<SaHpiEntryIdT> seen;
    SaHpiEntryIdT entryId = SAHPI_FIRST_ENTRY;
    while (seen.insert(entryId).second) {
        SaHpiEntryIdT next = SAHPI_LAST_ENTRY;
        SaHpiRdrT rdr{};
        const SaErrorT error = Hpi().rdrGet(session, entry.ResourceId, entryId, &next, &rdr);
        if (error != SA_OK) {
            ISTD_TRACE(1, "saHpiRdrGet error :" << ErrorText(error));
            return;
        }
        int32_t type = 0;
        std::memcpy(&type, &rdr.RdrType, sizeof type);
        const char* typeName =
            type >= 0 && type <= SAHPI_RDR_TYPE_MAX_VALID ? oh_lookup_rdrtype(static_cast<SaHpiRdrTypeT>(type)) : nullptr;
        std::ostringstream line;
        line << "  ";
        if (typeName != nullptr) {
            line << typeName;
            if (type == SAHPI_INVENTORY_RDR) {
                line << " \"" << rdr.RdrTypeUnion.InventoryRec.IdrId << "\"";
            }
            line << ": \"" << TagText(rdr.IdString) << "\"";
        }
        ISTD_TRACE(1, line.str());
        if (next == SAHPI_LAST_ENTRY) {
            return;
        }
        entryId = next;
    }
    ISTD_TRACE(1, "bmc: HPI data records lead back to entry " << entryId);
}

} // namespace bmc
