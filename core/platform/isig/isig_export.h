// The symbols of libkavrelisig that applications, plug-ins and the other libraries may use.
// The library is built with hidden visibility: a class or function declared in a public header
// is reachable from outside only when it carries ISIG_API (templates defined in headers need it
// only for their explicit instantiations in the library).
#pragma once

#define ISIG_API __attribute__((visibility("default")))
