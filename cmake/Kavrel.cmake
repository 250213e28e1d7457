# Build conventions shared by every library, test, benchmark and fuzz target.
include_guard(GLOBAL)
include(GNUInstallDirs)

set(KAVREL_INCLUDE_DIRS
  ${PROJECT_SOURCE_DIR}/core/platform
  ${PROJECT_SOURCE_DIR}/core/shared
  ${PROJECT_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/generated)

# Unit tests are not built in the fuzz configuration: it only needs the libraries and the targets.
# KAVREL_TESTS=OFF builds the libraries and programs alone (packages), without GoogleTest.
option(KAVREL_TESTS "Build the tests" ON)
if(KAVREL_FUZZ OR NOT KAVREL_TESTS)
  set(KAVREL_BUILD_TESTS OFF)
else()
  set(KAVREL_BUILD_TESTS ON)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# Warnings are errors in the presets CI builds (dev, tsan, fuzz); a release or a build without a
# preset, perhaps with another compiler version, only reports them.
option(KAVREL_WERROR "Treat compiler warnings as errors" OFF)
set(KAVREL_WARNINGS -Wall -Wextra)
if(KAVREL_WERROR)
  list(APPEND KAVREL_WARNINGS -Werror)
endif()

if(KAVREL_SANITIZE)
  add_compile_options(-fsanitize=${KAVREL_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${KAVREL_SANITIZE})
  if(KAVREL_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=all)
  endif()
endif()
if(KAVREL_FUZZ)
  # Coverage instrumentation for everything the fuzz targets reach.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Environment of every test: sanitizers stop at the first report.
set(KAVREL_TEST_ENV
  "ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
  "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
  "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1"
  "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/cmake/lsan.supp:print_suppressions=0"
  "KAVREL_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
  "KAVREL_BINARY_DIR=${PROJECT_BINARY_DIR}")

function(kavrel_target_defaults target)
  target_compile_options(${target} PRIVATE ${KAVREL_WARNINGS})
  target_include_directories(${target} PUBLIC "$<BUILD_INTERFACE:${KAVREL_INCLUDE_DIRS}>")
endfunction()

# kavrel_glob_sources(<var> [dir]): the .cpp files below dir (default: the current folder),
# without the tests/ folder.
function(kavrel_glob_sources var)
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  if(ARGC GREATER 1)
    set(dir ${ARGV1})
  endif()
  file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER found EXCLUDE REGEX "/tests/")
  set(${var} ${found} PARENT_SCOPE)
endfunction()

# Where installed programs and libraries find the project's libraries: beside them, or in the
# library folder next to the program folder, wherever the prefix is. The simulators go to a
# folder of their own below the library folder (KAVREL_SIM_LIBDIR), so that nothing links them
# by mistake. An install into the system's library folder drops what the system finds by itself
# (cmake/KavrelPackage.cmake).
file(RELATIVE_PATH KAVREL_BIN_TO_LIB /x/${CMAKE_INSTALL_BINDIR} /x/${CMAKE_INSTALL_LIBDIR})
set(KAVREL_PROGRAM_RPATH "$ORIGIN/${KAVREL_BIN_TO_LIB}")
set(KAVREL_SIM_LIBDIR ${CMAKE_INSTALL_LIBDIR}/kavrel)
file(RELATIVE_PATH KAVREL_SIM_TO_LIB /x/${KAVREL_SIM_LIBDIR}/ /x/${CMAKE_INSTALL_LIBDIR})
string(REGEX REPLACE "/$" "" KAVREL_SIM_TO_LIB "${KAVREL_SIM_TO_LIB}")
set(KAVREL_SIM_RPATH "$ORIGIN:$ORIGIN/${KAVREL_SIM_TO_LIB}")
# The simulators' data (chassis files).
set(KAVREL_SIM_DATADIR ${CMAKE_INSTALL_DATADIR}/kavrel/sim)

# The schemas installed with the libraries (the shared types schema, the runtime description
# schema). An install puts them under its prefix, in KAVREL_SCHEMA_DIR, and nowhere else; the
# build tree keeps them at the same place below the build folder, where the tests find them and
# where the configuration library finds its own copy as it does in an installed tree (relative
# to the library folder). The Debian packages also put them at KAVREL_XSD_DIR, the path that
# generated schemas import by default and stored schemas name.
set(KAVREL_SCHEMA_DIR ${CMAKE_INSTALL_DATADIR}/kavrel/xsd/${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
set(KAVREL_BUILD_SCHEMA_DIR ${PROJECT_BINARY_DIR}/${KAVREL_SCHEMA_DIR})
set(KAVREL_XSD_DIR "/opt/kavrel/xsd/${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}"
  CACHE PATH "Where the Debian packages install the shared types schema types.xsd")

# kavrel_install_schema(<file>): a schema of the current folder, copied into the build tree and
# installed as above.
function(kavrel_install_schema file)
  configure_file(${file} ${KAVREL_BUILD_SCHEMA_DIR}/${file} COPYONLY)
  install(FILES ${file} DESTINATION ${KAVREL_SCHEMA_DIR} COMPONENT runtime)
  # Only for the packages (cpack installs each component by name): an install into a prefix of
  # one's own writes nothing outside it.
  install(FILES ${file} DESTINATION ${KAVREL_XSD_DIR} COMPONENT runtime EXCLUDE_FROM_ALL)
endfunction()

# kavrel_library(<name> SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...] [PRIVATE_HEADERS ...])
# A library under core/ is a deliverable, kavrel::<folder> of the package:
#   - built with hidden visibility: only what its headers mark with <LIB>_API
#     (<lib>/<lib>_export.h) is exported, and linked with its own functions bound to itself;
#   - installed with its SONAME, and its folder's headers (but tests/ and PRIVATE_HEADERS) go to
#     include/kavrel/<folder>/, so that "<folder>/<header>.h" is included as in the tree;
#   - named in the CMake package and given a pkg-config file (cmake/KavrelPackage.cmake).
# Under sim/ (the simulators) a library keeps default visibility and is installed with the
# example programs into KAVREL_SIM_LIBDIR, without headers, for LD_PRELOAD.
function(kavrel_library name)
  cmake_parse_arguments(A "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS;PRIVATE_HEADERS" ${ARGN})
  add_library(${name} SHARED ${A_SOURCES})
  kavrel_target_defaults(${name})
  target_link_libraries(${name} PUBLIC ${A_PUBLIC_LIBS} PRIVATE ${A_PRIVATE_LIBS})
  set_target_properties(${name} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
  file(RELATIVE_PATH dir ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  if(dir MATCHES "^sim/")
    set_target_properties(${name} PROPERTIES INSTALL_RPATH "${KAVREL_SIM_RPATH}")
    install(TARGETS ${name} LIBRARY DESTINATION ${KAVREL_SIM_LIBDIR} COMPONENT examples NAMELINK_COMPONENT examples)
    set_property(GLOBAL APPEND PROPERTY KAVREL_SIM_LIBRARIES ${name})
    return()
  endif()
  if(NOT dir MATCHES "^core/")
    return()
  endif()
  get_filename_component(component ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    EXPORT_NAME ${component}
    INSTALL_RPATH "$ORIGIN")
  # A library's calls to its own functions and its vtables' slots for them are bound when it is
  # linked, not looked up by the dynamic loader at every start (a third of the symbol lookups of
  # instrument-app). Nothing interposes them: the simulators take over libusb's functions, which
  # these libraries only call, and the devio paths, which they claim through devio itself. Data
  # stays interposable (-Bsymbolic would break copy relocations of exported objects).
  target_link_options(${name} PRIVATE LINKER:-Bsymbolic-functions)
  add_library(kavrel::${component} ALIAS ${name})
  install(TARGETS ${name} EXPORT kavrel-targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kavrel)
  kavrel_install_headers(${component} PRIVATE_HEADERS ${A_PRIVATE_HEADERS})
  set_property(GLOBAL APPEND PROPERTY KAVREL_PACKAGE_LIBRARIES ${component})
endfunction()

# kavrel_install_headers(<library> [PRIVATE_HEADERS ...]): the headers of the current folder (and
# its subfolders but tests/) installed as include/kavrel/<library>/. kavrel_library calls it; a
# folder of header-only templates calls it itself (core/shared/isig joins the isig headers).
# Header by header, folder by folder: a folder without headers (inet/idl) makes no empty folder.
function(kavrel_install_headers library)
  cmake_parse_arguments(A "" "" "PRIVATE_HEADERS" ${ARGN})
  file(GLOB_RECURSE headers RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  set(subdirs)
  foreach(header IN LISTS headers)
    get_filename_component(name ${header} NAME)
    if(header MATCHES "(^|/)tests/" OR name IN_LIST A_PRIVATE_HEADERS)
      continue()
    endif()
    get_filename_component(subdir "${header}" DIRECTORY)
    if(NOT subdir)
      set(subdir .)
    endif()
    string(MAKE_C_IDENTIFIER "in_${subdir}" var)
    list(APPEND ${var} ${header})
    list(APPEND subdirs "${subdir}")
  endforeach()
  list(REMOVE_DUPLICATES subdirs)
  foreach(subdir IN LISTS subdirs)
    string(MAKE_C_IDENTIFIER "in_${subdir}" var)
    install(FILES ${${var}} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kavrel/${library}/${subdir} COMPONENT dev)
  endforeach()
endfunction()

# Paths a test finds its data by.
function(kavrel_test_definitions target scope)
  target_compile_definitions(${target} ${scope}
    KAVREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KAVREL_BINARY_DIR="${PROJECT_BINARY_DIR}"
    KAVREL_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/tests/data")
endfunction()

# kavrel_test_executable(<name> SOURCES ... LIBS ... LABELS ...)
# A GoogleTest program whose tests ctest discovers when it runs.
function(kavrel_test_executable name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT KAVREL_BUILD_TESTS)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  kavrel_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gmock GTest::gtest_main)
  kavrel_test_definitions(${name} PRIVATE)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  # Labels and environment are set by a script of our own that runs after discovery:
  # gtest_discover_tests flattens list-valued PROPERTIES, so a second label or environment
  # entry would silently become a property name.
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    TEST_LIST ${name}_TESTS)
  set(props ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
  file(WRITE ${props}
    "foreach(t IN LISTS ${name}_TESTS)\n"
    "  set_tests_properties(\"\${t}\" PROPERTIES\n"
    "    LABELS [==[${A_LABELS}]==]\n"
    "    ENVIRONMENT [==[${KAVREL_TEST_ENV}]==])\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${props})
endfunction()

# kavrel_unit_tests(<label> LIBS ...): the library's tests/ folder.
#   tests/<name>_test.cpp          -> program <label>_<name>_test, labelled <label>
#   tests/<name>_threads_test.cpp  -> program <label>_<name>_threads_test, labelled <label> and threads
#   tests/common/*.cpp             -> a static library linked into every program
# One program per file keeps a broken or half-written test file from stopping its neighbours.
# The targets <label>_tests and <label>_threads_tests build them all.
# The ThreadSanitizer build defines only the threaded programs.
function(kavrel_unit_tests label)
  cmake_parse_arguments(A "" "" "LIBS" ${ARGN})
  if(NOT KAVREL_BUILD_TESTS)
    return()
  endif()
  set(tdir ${CMAKE_CURRENT_SOURCE_DIR}/tests)
  file(GLOB common CONFIGURE_DEPENDS ${tdir}/common/*.cpp)
  file(GLOB sources CONFIGURE_DEPENDS ${tdir}/*_test.cpp)
  set(libs ${A_LIBS})
  if(common)
    add_library(${label}_test_common STATIC ${common})
    kavrel_target_defaults(${label}_test_common)
    kavrel_test_definitions(${label}_test_common PUBLIC)
    target_link_libraries(${label}_test_common PUBLIC ${A_LIBS} GTest::gmock GTest::gtest)
    set(libs ${label}_test_common)
  endif()
  set(plain_targets)
  set(threaded_targets)
  foreach(src IN LISTS sources)
    get_filename_component(stem ${src} NAME_WE)
    if(stem MATCHES "_threads_test$")
      kavrel_test_executable(${label}_${stem} SOURCES ${src} LIBS ${libs} LABELS "${label};threads")
      list(APPEND threaded_targets ${label}_${stem})
    elseif(NOT KAVREL_THREADS_ONLY)
      kavrel_test_executable(${label}_${stem} SOURCES ${src} LIBS ${libs} LABELS ${label})
      list(APPEND plain_targets ${label}_${stem})
    endif()
  endforeach()
  if(plain_targets)
    add_custom_target(${label}_tests DEPENDS ${plain_targets})
  endif()
  if(threaded_targets)
    add_custom_target(${label}_threads_tests DEPENDS ${threaded_targets})
  endif()
endfunction()

# kavrel_fuzz_target(<name> SOURCES ... LIBS ...): a libFuzzer program; its seed corpus is
# fuzz/corpus/<name>, replayed by ctest (label fuzz).
function(kavrel_fuzz_target name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT KAVREL_FUZZ)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  kavrel_target_defaults(${name})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzz)
  set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  add_test(NAME fuzz_replay_${name} COMMAND ${name} -runs=0 ${corpus})
  set_tests_properties(fuzz_replay_${name} PROPERTIES LABELS fuzz ENVIRONMENT "${KAVREL_TEST_ENV}")
endfunction()

# kavrel_bench(<name> SOURCES ... LIBS ...): a Google Benchmark program (release preset).
function(kavrel_bench name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT KAVREL_BENCH)
    return()
  endif()
  find_package(benchmark REQUIRED)
  add_executable(${name} ${A_SOURCES})
  kavrel_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${A_LIBS} benchmark::benchmark)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
endfunction()
