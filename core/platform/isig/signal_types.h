#ifndef ISIG_SIGNAL_TYPES_H
#define ISIG_SIGNAL_TYPES_H

// The vocabulary of signals: result codes, stream states, atom and access types, metadata
// and statistics.

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <typeinfo>
#include <vector>

#include "isig/isig_export.h"
#include "istd/enum_map.h"

namespace isig {

// Results of streams, queues and clients. The underlying type is fixed, so a code without a
// name (a stream's own -7, say) is a valid value of the type too.
enum SuccessCode_e : int {
    eSuccess = 0,
    eFailure = -1,
    eNoData = -2,     // no or incomplete data
    eTimeout = -3,
    eCancelled = -4,  // for one client: closed or cancelled by name
    eTerminated = -5, // the stream is shut down, or the client has none
    eNotStarted = -6, // a continuous stream that is not started
};

// Writes "name(code)", e.g. "cancelled(-4)"; a code without a name as "code(-7)".
ISIG_API std::ostream& operator<<(std::ostream& os, SuccessCode_e code);

enum StreamState {
    eStreamIdle = 0,
    eStreamStarting = 1,
    eStreamRunning = 2,
    eStreamStopping = 3,
    eStreamShutDown = 4, // final
};

// Writes "name(value)", e.g. "running(2)".
ISIG_API std::ostream& operator<<(std::ostream& os, StreamState state);

// The type of one component of an atom. The negative value matters: registry enumeration
// nodes must show it as a negative number.
enum AtomType_e : int {
    eAtomUnknown = -1,
    eAtomDouble = 0,
    eAtomFloat = 1,
    eAtomUInt64 = 2,
    eAtomInt64 = 3,
    eAtomUInt32 = 4,
    eAtomInt32 = 5,
    eAtomUInt16 = 6,
    eAtomInt16 = 7,
    eAtomUInt8 = 8,
    eAtomInt8 = 9,
};

// The AtomType_e of a C++ type: both spellings of each 64-bit type, char as neither
// signedness; eAtomUnknown for anything else.
ISIG_API AtomType_e AtomTypeOf(const std::type_info& type);

// How a signal is read.
enum AccessType_e : int {
    eAccessInvalid = -1,
    eAccessRandom = 0,
    eAccessStream = 1,
};

// How a client consumes its signal: read locally, or forwarded to a remote receiver.
enum AccessMode_e {
    eModeRead = 0,
    eModeForward = 1,
};

// Keys of the metadata that travels with every dispatched buffer.
enum SignalMetaId_e : int {
    eMetaTimestamp = 0, // time stamp of the buffer's first atom
    eMetaSequence = 1,  // running number of the buffer's first atom
};

using SignalMeta = std::map<SignalMetaId_e, int64_t>;

// The empty metadata.
extern ISIG_API const SignalMeta c_noMeta;

// One line of a signal's statistics: what count1 and count2 mean depends on the item (a
// client's pushed and dropped atoms, a device's atoms read and partial reads).
struct ISIG_API SignalStatItem {
    std::string name;
    uint64_t count1 = 0;
    uint64_t count2 = 0;
    unsigned atomSize = 0; // bytes
};

using SignalStats = std::vector<SignalStatItem>;

} // namespace isig

ISTD_ENUM_TABLE_DECL(isig::SuccessCode_e)
ISTD_ENUM_TABLE_DECL(isig::StreamState)
ISTD_ENUM_TABLE_DECL(isig::AtomType_e)
ISTD_ENUM_TABLE_DECL(isig::AccessType_e)

namespace isig {
ISTD_ENUM_OUTPUT_OPERATOR(AtomType_e)
ISTD_ENUM_INPUT_OPERATOR(AtomType_e)
ISTD_ENUM_OUTPUT_OPERATOR(AccessType_e)
ISTD_ENUM_INPUT_OPERATOR(AccessType_e)
} // namespace isig

#endif
