// The symbols of libkavrelinet that applications, plug-ins and the other libraries may use.
// The library is built with hidden visibility: a class or function declared in a public header
// is reachable from outside only when it carries INET_API (templates defined in headers need it
// only for their explicit instantiations in the library).
#pragma once

#define INET_API __attribute__((visibility("default")))
