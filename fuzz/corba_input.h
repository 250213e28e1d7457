#ifndef FUZZ_CORBA_INPUT_H
#define FUZZ_CORBA_INPUT_H

// What the fuzz targets of remote calls share: the process's ORB, and the arguments of calls read
// from the input as the ORB unmarshals them from a request: CDR, little-endian, aligned as it
// follows the byte-order octet of an encapsulation (so the input's first byte lies at offset 1).
// Values (anys) take their TypeCode from a table rather than from the input: the ORB's own
// unmarshalling of malformed TypeCodes (omniORB 4.2) crashes and leaks before any code of ours
// runs, which no code of ours can change.

#include <omniORB4/CORBA.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "inet/i_net.hh"
#include "inet/orb_manager.h"

namespace fuzzsupport {

// The process's ORB (through the ORB manager, on a port the system chooses), initialised on the
// first call; strings in anys need its code sets, servants its POA. Not owned by the caller.
inline CORBA::ORB_ptr Orb()
{
    static const CORBA::ORB_var orb = [] {
        static char name[] = "fuzz";
        static char* argv[] = {name, nullptr};
        int argc = 1;
        inet::OrbManager::Init(argc, argv, 0, 1u << 24);
        return inet::OM().GetORB();
    }();
    return orb.in();
}

// The input as a CDR stream to read arguments from.
class CdrInput {
public:
    CdrInput(const uint8_t* data, size_t size)
    {
        m_out.put_octet_array(data, static_cast<int>(size));
        m_in = std::make_unique<cdrEncapsulationStream>(static_cast<const CORBA::Octet*>(m_out.bufPtr()),
                                                        m_out.bufSize(), 1);
    }
    CdrInput(const CdrInput&) = delete;
    CdrInput& operator=(const CdrInput&) = delete;

    cdrStream& Stream() { return *m_in; }
    bool AtEnd() { return !m_in->checkInputOverrun(1, 1); }
    // The rest of the input, unread.
    std::vector<uint8_t> Rest()
    {
        std::vector<uint8_t> rest;
        while (!AtEnd()) {
            rest.push_back(m_in->unmarshalOctet());
        }
        return rest;
    }

private:
    cdrEncapsulationStream m_out; // holds the byte-order octet and the input
    std::unique_ptr<cdrEncapsulationStream> m_in;
};

// The TypeCodes a value may have: the registry's buffers, other aliases of sequences, an alias of
// an alias, sequences without alias and scalars. No any (nor a structure holding one): its value
// carries a TypeCode of its own, which would bring the ORB's own faults back.
inline const std::vector<CORBA::TypeCode_var>& ValueTypes()
{
    static const std::vector<CORBA::TypeCode_var> types = [] {
        const CORBA::TypeCode_ptr named[] = {
            i_NET::_tc_BooleanBuffer, i_NET::_tc_Int32Buffer,  i_NET::_tc_UInt32Buffer, i_NET::_tc_Int64Buffer,
            i_NET::_tc_UInt64Buffer,  i_NET::_tc_DoubleBuffer, i_NET::_tc_FloatBuffer,  i_NET::_tc_StringBuffer,
            i_NET::_tc_Int16Buffer,   i_NET::_tc_UInt8Buffer,  i_NET::_tc_NodeNames,    i_NET::_tc_NodePath,
            CORBA::_tc_boolean,       CORBA::_tc_long,         CORBA::_tc_ulonglong,    CORBA::_tc_double,
            CORBA::_tc_string,        CORBA::_tc_short,        CORBA::_tc_octet,        CORBA::_tc_char,
        };
        std::vector<CORBA::TypeCode_var> result;
        for (CORBA::TypeCode_ptr type : named) {
            result.emplace_back(CORBA::TypeCode::_duplicate(type));
        }
        result.emplace_back(Orb()->create_sequence_tc(0, CORBA::_tc_long));
        result.emplace_back(Orb()->create_sequence_tc(0, CORBA::_tc_string));
        result.emplace_back(Orb()->create_sequence_tc(0, i_NET::_tc_Int32Buffer));
        return result;
    }();
    return types;
}

// A value of the type whose bytes follow as CDR; false when the ORB refuses them, as it would
// refuse the request.
inline bool ReadAny(CORBA::TypeCode_ptr type, const uint8_t* data, size_t size, CORBA::Any& value)
{
    try {
        cdrEncapsulationStream out;
        CORBA::TypeCode::marshalTypeCode(type, out);
        out.put_octet_array(data, static_cast<int>(size));
        cdrEncapsulationStream in(static_cast<const CORBA::Octet*>(out.bufPtr()), out.bufSize(), 1);
        value <<= in;
    } catch (const CORBA::SystemException&) {
        return false;
    }
    return true;
}

// The same with the table's TypeCode number `type` (modulo the table's size).
inline bool ReadAny(uint8_t type, const uint8_t* data, size_t size, CORBA::Any& value)
{
    const std::vector<CORBA::TypeCode_var>& types = ValueTypes();
    return ReadAny(types[type % types.size()].in(), data, size, value);
}

} // namespace fuzzsupport

#endif
