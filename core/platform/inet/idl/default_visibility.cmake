# cmake -P default_visibility.cmake <header>
# Wraps a header that omniidl generated in "#pragma GCC visibility push(default)" ... "pop": the
# stubs' classes, type codes and exceptions belong to the public interface of the network library,
# and code built with hidden visibility (the libraries, or an application) must see them as
# exported, or a class of its own derived from a servant base would be reported as more visible
# than its base.
set(header ${CMAKE_ARGV3})
file(READ ${header} text)
if(text MATCHES "#pragma GCC visibility push")
  return()
endif()
string(FIND "${text}" "\n#define " guard)
if(guard LESS 0)
  message(FATAL_ERROR "${header}: no include guard")
endif()
math(EXPR after "${guard} + 1")
string(SUBSTRING "${text}" ${after} -1 rest)
string(FIND "${rest}" "\n" line_end)
math(EXPR split "${after} + ${line_end} + 1")
string(SUBSTRING "${text}" 0 ${split} head)
string(SUBSTRING "${text}" ${split} -1 body)
string(FIND "${body}" "#endif" last REVERSE)
string(SUBSTRING "${body}" 0 ${last} inner)
string(SUBSTRING "${body}" ${last} -1 tail)
file(WRITE ${header}
  "${head}\n#pragma GCC visibility push(default)\n${inner}#pragma GCC visibility pop\n\n${tail}")
