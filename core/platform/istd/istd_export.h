// The symbols of libkavrelistd that applications, plug-ins and the other libraries may use.
// The library is built with hidden visibility: a class or function declared in a public header
// is reachable from outside only when it carries ISTD_API (templates defined in headers need it
// only for their explicit instantiations in the library).
#pragma once

#define ISTD_API __attribute__((visibility("default")))

// Default visibility for what istd's declaration macros declare on behalf of another library
// (ISTD_ENUM_TABLE_DECL, ISTD_DECLARE_ID_COUNTER): the library that defines the symbol exports it.
#define ISTD_EXPORTED __attribute__((visibility("default")))
