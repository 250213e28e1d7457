#ifndef INET_TESTS_REFUSAL_TEXT_H
#define INET_TESTS_REFUSAL_TEXT_H

// The text by which the remote tests compare what a CORBA call raised; header only, so that the
// client programs the tests start can use it without the test framework.

#include <string>

#include "inet/i_net.hh"
#include "inet/orb_manager.h"

namespace inettest {

// "NotFound: <text>", "InvalidType: <text>", "ValueException: <text>", or any other exception as
// the ORB prints it.
inline std::string RefusalText(const CORBA::Exception& e)
{
    if (const auto* notFound = i_NET::NotFound::_downcast(&e)) {
        return std::string("NotFound: ") + notFound->message.in();
    }
    if (const auto* invalidType = i_NET::InvalidType::_downcast(&e)) {
        return std::string("InvalidType: ") + invalidType->message.in();
    }
    if (const auto* valueException = i_NET::ValueException::_downcast(&e)) {
        return std::string("ValueException: ") + valueException->message.in();
    }
    return inet::ExceptionText(e);
}

} // namespace inettest

#endif
