// The symbols of libkavrelimath that applications and plug-ins may use.
// The library is built with hidden visibility: a class or function declared in a public header
// is reachable from outside only when it carries IMATH_API (templates defined in headers need it
// only for their explicit instantiations in the library).
#pragma once

#define IMATH_API __attribute__((visibility("default")))
