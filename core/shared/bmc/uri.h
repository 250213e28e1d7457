#ifndef BMC_URI_H
#define BMC_URI_H

// The name of a board and of the way to reach it:
//     kvr://<location>/<subsystem>[;<interface>]/<id>
// An empty location is the local system (kvr:///amc/3). URIs are values: they are copied,
// compared by their text and used as the keys of the board and connection pools.

#include <functional>
#include <mutex>
#include <ostream>
#include <string>

#include "bmc/bmc_export.h"
#include "istd/enum_map.h"

namespace bmc {

class BMC_API Uri {
public:
    // Which kind of slot or host the board is.
    enum SubSystem_e {
        eChassis = 0, // a chassis slot; the id is the slot number, slot 0 is the chassis manager
        eAmc = 1,     // an AMC module slot
        eTrm = 2,
        eCu = 3,
        ePs = 4,
        eMch = 5,
        eOs = 6,     // the host computer, reached through its operating system
        eTest = 7,   // the simulated board of the test connection
        eUnknown = 8 // not set
    };

    // The management interface the board is reached through.
    enum Interface_e {
        eInterfaceDefault = 0, // none given: written without ";" in the text
        eInterfaceIpmiUsb = 1,
        eInterfaceIpmiI2c = 2,
        eInterfaceHpi = 3,
        eInterfaceIpmiLan = 4
    };

    static const std::string c_schema;   // "kvr:"
    static const std::string c_locLocal; // "local", another way to write the empty location

    Uri();
    Uri(SubSystem_e subSystem, const std::string& id, Interface_e interface);
    Uri(SubSystem_e subSystem, int number, Interface_e interface);
    // The location "local" is stored as the empty location.
    Uri(const std::string& location, SubSystem_e subSystem, const std::string& id,
        Interface_e interface);
    Uri(const Uri& other);
    Uri& operator=(const Uri& other);
    ~Uri();

    // The references point into this URI: do not change it while one is in use.
    const std::string& GetLocation() const;
    const std::string& GetId() const;
    SubSystem_e GetSubSystem() const;
    Interface_e GetInterface() const;
    std::string GetSubSystemStr() const;
    bool IsLocal() const;

    // SetLocation keeps "local" as given: such a URI is local but its text differs.
    void SetLocation(const std::string& location);
    void SetId(const std::string& id);
    void SetSubSystem(SubSystem_e subSystem);
    void SetInterface(Interface_e interface);

    // The text form, rebuilt only after a change.
    const std::string& ToString() const;

private:
    // Rebuilds the text; called with the mutex held. On failure the old text stays.
    void UpdateQualified() const;
    // Copies every field but the mutex; called with the mutexes held.
    void _CopyFields(const Uri& other);

    mutable std::string m_qualified;
    mutable bool m_update;
    mutable std::mutex m_mutex;
    std::string m_location;
    SubSystem_e m_subSystem;
    Interface_e m_interface;
    std::string m_id;
};

BMC_API std::ostream& operator<<(std::ostream& os, const Uri& uri);

// Parses a URI text; "URI: ..." failures and the enumeration failures leave nothing behind.
// A path that is a bare decimal number names that chassis slot, whatever location is given.
BMC_API Uri DecomposeUri(const std::string& text);

BMC_API Uri CreateLocalChassisUri(int slot, Uri::Interface_e interface);
BMC_API Uri CreateLocalAmcUri(int slot, Uri::Interface_e interface);

extern BMC_API const Uri c_localKozUri; // kvr:///chassis/0, the chassis manager
extern BMC_API const Uri c_localOSUri;  // kvr:///os/, the host computer

} // namespace bmc

ISTD_ENUM_TABLE_DECL(bmc::Uri::SubSystem_e)
ISTD_ENUM_TABLE_DECL(bmc::Uri::Interface_e)

// URIs sort by their text, byte by byte; equal texts are the same key.
template <>
struct std::less<bmc::Uri> {
    bool operator()(const bmc::Uri& a, const bmc::Uri& b) const;
};

#endif
