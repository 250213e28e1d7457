# The framework as another project meets it: the CMake package "kavrel" (kavrel::<library>), one
# pkg-config file per library (kavrel-<library>), and the Debian packages made by CPack.
# Included by the top-level CMakeLists.txt after every folder, so that it sees every library that
# kavrel_library made under core/ (the package's components follow from those by themselves).
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)

# Outside targets that the libraries link publicly, and how the package meets each again:
#   kavrel_outside_dependency(<target> [FIND <config-file code>] [PKGCONFIG <modules>]
#                             [PCLIBS <flags>] [DEB <development package>])
# FIND recreates the target in the consumer's project, PKGCONFIG or PCLIBS stand for it in the
# pkg-config files, DEB is what the development package depends on. A library that links a new
# outside target publicly needs one line here; configuring fails until it has one.
function(kavrel_outside_dependency target)
  cmake_parse_arguments(A "" "" "FIND;PKGCONFIG;PCLIBS;DEB" ${ARGN})
  string(MAKE_C_IDENTIFIER "${target}" id)
  set_property(GLOBAL PROPERTY KAVREL_OUTSIDE_${id} TRUE)
  foreach(field FIND PKGCONFIG PCLIBS DEB)
    set_property(GLOBAL PROPERTY KAVREL_OUTSIDE_${id}_${field} "${A_${field}}")
  endforeach()
endfunction()

kavrel_outside_dependency(Boost::headers FIND "find_dependency(Boost 1.74)" DEB libboost-dev)
kavrel_outside_dependency(Threads::Threads FIND "find_dependency(Threads)" PCLIBS -pthread)
kavrel_outside_dependency(PkgConfig::OMNIORB
  FIND "kavrel_pkg_target(OMNIORB omniORB4 omniDynamic4 omnithread4)"
  PKGCONFIG "omniORB4 omniDynamic4 omnithread4" DEB libomniorb4-dev)
kavrel_outside_dependency(PkgConfig::IMATH_OMNITHREAD
  FIND "kavrel_pkg_target(IMATH_OMNITHREAD omnithread4)" PKGCONFIG omnithread4 DEB libomniorb4-dev)
kavrel_outside_dependency(kissfft::kissfft-float
  FIND "find_dependency(kissfft CONFIG COMPONENTS SHARED)" PKGCONFIG kissfft-float DEB libkissfft-dev)
kavrel_outside_dependency(Boost::program_options
  FIND "find_dependency(Boost 1.74 COMPONENTS program_options)" PCLIBS -lboost_program_options
  DEB libboost-program-options-dev)

# Outside headers that installed headers include although the library links them privately
# (board management's connections show the types of libstatgrab, libsensors and OpenHPI).
set(KAVREL_DEV_HEADER_PACKAGES libstatgrab-dev libsensors-dev libopenhpi-dev)

# One line of description per library for its pkg-config file.
set(KAVREL_DESCRIPTION_istd "standard utilities: exceptions, trace and log, name tables, conversions")
set(KAVREL_DESCRIPTION_devio "register access and board device files")
set(KAVREL_DESCRIPTION_mci "the registry's tree: tree nodes, node handles, factory, notifications")
set(KAVREL_DESCRIPTION_inet "CORBA: the i_NET stubs, ORB manager, value and path conversions")
set(KAVREL_DESCRIPTION_isig "signals: sources, repository, clients, remote signals, streams")
set(KAVREL_DESCRIPTION_icfg "configuration documents: XML read, validated, written, schemas generated")
set(KAVREL_DESCRIPTION_ireg "the registry: typed, validated, persisted nodes served over CORBA")
set(KAVREL_DESCRIPTION_bmc "board management, bus controllers and chip drivers")
set(KAVREL_DESCRIPTION_iapp "the application framework")
set(KAVREL_DESCRIPTION_imath "filters and control math")

set(KAVREL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kavrel)
set(KAVREL_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(KAVREL_IDL_DIR ${CMAKE_INSTALL_DATADIR}/idl/kavrel)

# The package's libraries (short names) in the order they were made, which is an order of their
# dependencies.
get_property(KAVREL_PACKAGE_LIBRARIES GLOBAL PROPERTY KAVREL_PACKAGE_LIBRARIES)

# _kavrel_split_links(<target> <property> <kavrel var> <outside var>): the libraries of a link
# property split into the package's own (short names) and outside targets.
function(_kavrel_split_links target property kavrel_var outside_var)
  get_target_property(links ${target} ${property})
  set(own)
  set(outside)
  foreach(link IN LISTS links)
    if(NOT link OR link MATCHES "^\\$<")
      continue()
    endif()
    set(short)
    if(TARGET ${link})
      get_target_property(aliased ${link} ALIASED_TARGET)
      if(aliased)
        set(link ${aliased})
      endif()
      get_target_property(short ${link} EXPORT_NAME)
    endif()
    if(short AND short IN_LIST KAVREL_PACKAGE_LIBRARIES)
      list(APPEND own ${short})
    else()
      list(APPEND outside ${link})
    endif()
  endforeach()
  set(${kavrel_var} ${own} PARENT_SCOPE)
  set(${outside_var} ${outside} PARENT_SCOPE)
endfunction()

# What the package knows of an outside target: <var>_FIND, _PKGCONFIG, _PCLIBS, _DEB.
function(_kavrel_outside target var)
  string(MAKE_C_IDENTIFIER "${target}" id)
  get_property(known GLOBAL PROPERTY KAVREL_OUTSIDE_${id})
  if(NOT known)
    message(FATAL_ERROR "A kavrel library links ${target} publicly, and the package does not know "
      "how a consumer finds it: add kavrel_outside_dependency(${target} ...) to ${CMAKE_CURRENT_LIST_FILE}")
  endif()
  foreach(field FIND PKGCONFIG PCLIBS DEB)
    get_property(value GLOBAL PROPERTY KAVREL_OUTSIDE_${id}_${field})
    set(${var}_${field} "${value}" PARENT_SCOPE)
  endforeach()
endfunction()

# The pkg-config files, and what the config file and the development package need.
set(config_finds)
set(dev_debs ${KAVREL_DEV_HEADER_PACKAGES})
file(RELATIVE_PATH pc_to_prefix /x/${KAVREL_PKGCONFIG_DIR} /x)
string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
foreach(library IN LISTS KAVREL_PACKAGE_LIBRARIES)
  set(target kavrel${library})
  _kavrel_split_links(${target} INTERFACE_LINK_LIBRARIES public_own public_outside)
  _kavrel_split_links(${target} LINK_LIBRARIES all_own all_outside)
  set(private_own ${all_own})
  if(public_own)
    list(REMOVE_ITEM private_own ${public_own})
  endif()
  set(requires)
  foreach(own IN LISTS public_own)
    list(APPEND requires kavrel-${own})
  endforeach()
  set(requires_private)
  foreach(own IN LISTS private_own)
    list(APPEND requires_private kavrel-${own})
  endforeach()
  set(libs "-L\${libdir} -l${target}")
  set(cflags "-I\${includedir}")
  foreach(outside IN LISTS public_outside)
    _kavrel_outside(${outside} dep)
    list(APPEND config_finds "${dep_FIND}")
    list(APPEND requires ${dep_PKGCONFIG})
    list(APPEND dev_debs ${dep_DEB})
    if(dep_PCLIBS)
      string(APPEND libs " ${dep_PCLIBS}")
    endif()
    if(dep_PCLIBS STREQUAL "-pthread")
      string(APPEND cflags " -pthread")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES requires)
  list(JOIN requires " " requires)
  list(JOIN requires_private " " requires_private)
  set(description "${KAVREL_DESCRIPTION_${library}}")
  if(NOT description)
    set(description "the kavrel library ${library}")
  endif()
  set(pc ${PROJECT_BINARY_DIR}/pkgconfig/kavrel-${library}.pc)
  file(WRITE ${pc}.in
    "prefix=\${pcfiledir}/${pc_to_prefix}\n"
    "libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}\n"
    "includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}/kavrel\n"
    "idldir=\${prefix}/${KAVREL_IDL_DIR}\n"
    "typesschema=${KAVREL_XSD_DIR}/types.xsd\n"
    "\n"
    "Name: kavrel-${library}\n"
    "Description: kavrel ${library}: ${description}\n"
    "Version: ${PROJECT_VERSION}\n"
    "Requires: ${requires}\n"
    "Requires.private: ${requires_private}\n"
    "Cflags: ${cflags}\n"
    "Libs: ${libs}\n")
  configure_file(${pc}.in ${pc} COPYONLY)
  install(FILES ${pc} DESTINATION ${KAVREL_PKGCONFIG_DIR} COMPONENT dev)
endforeach()
list(REMOVE_DUPLICATES config_finds)
list(REMOVE_DUPLICATES dev_debs)
list(JOIN config_finds "\n" KAVREL_CONFIG_DEPENDENCIES)

# The CMake package: imported targets, the config file that finds their outside dependencies
# first, and a version file (any 2.x from 2.8 on satisfies a request for 2.8).
list(JOIN KAVREL_PACKAGE_LIBRARIES ", " KAVREL_PACKAGE_LIBRARIES_TEXT)
install(EXPORT kavrel-targets NAMESPACE kavrel:: DESTINATION ${KAVREL_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/kavrelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/cmake/kavrelConfig.cmake
  INSTALL_DESTINATION ${KAVREL_CMAKE_DIR}
  PATH_VARS KAVREL_IDL_DIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/kavrelConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake/kavrelConfig.cmake ${PROJECT_BINARY_DIR}/cmake/kavrelConfigVersion.cmake
  DESTINATION ${KAVREL_CMAKE_DIR} COMPONENT dev)

# Installed into the system's library folder (the packages' /usr/lib, a prefix of /usr), the
# libraries and programs need no search path, and Debian wants none there; the simulators keep
# the one to their own folder. The prefix is known only when installing (cmake --install
# --prefix, cpack), so a script decides then, for the files of each component.
set(system_dirs ${CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES} ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES})
list(REMOVE_DUPLICATES system_dirs)
set(rpath_script ${PROJECT_BINARY_DIR}/cmake/kavrel_system_rpath.cmake)
file(CONFIGURE OUTPUT ${rpath_script} @ONLY CONTENT [==[
# Generated by cmake/KavrelPackage.cmake. kavrel_files (libraries and programs) and
# kavrel_sim_files (the simulators), relative to the prefix, lose their search path when the
# library folder is one the system searches by itself; the simulators then keep $ORIGIN.
set(system_dirs "@system_dirs@")
set(libdir "${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_LIBDIR@")
cmake_path(NORMAL_PATH libdir)
string(REGEX REPLACE "(.)/$" "\\1" libdir "${libdir}")
list(FIND system_dirs "${libdir}" system)
if(system GREATER -1)
  foreach(file IN LISTS kavrel_files)
    file(RPATH_REMOVE FILE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${file}")
  endforeach()
  foreach(file IN LISTS kavrel_sim_files)
    file(RPATH_SET FILE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${file}" NEW_RPATH "$ORIGIN")
  endforeach()
endif()
]==])
set(runtime_files)
foreach(library IN LISTS KAVREL_PACKAGE_LIBRARIES)
  list(APPEND runtime_files ${CMAKE_INSTALL_LIBDIR}/libkavrel${library}.so.${PROJECT_VERSION})
endforeach()
get_property(programs GLOBAL PROPERTY KAVREL_PROGRAMS)
list(TRANSFORM programs PREPEND ${CMAKE_INSTALL_BINDIR}/)
get_property(sim_files GLOBAL PROPERTY KAVREL_SIM_LIBRARIES)
list(TRANSFORM sim_files REPLACE "(.+)" "${KAVREL_SIM_LIBDIR}/lib\\1.so.${PROJECT_VERSION}")
install(CODE "set(kavrel_files \"${runtime_files}\")\nset(kavrel_sim_files)\ninclude(\"${rpath_script}\")"
  COMPONENT runtime)
install(CODE "set(kavrel_files \"${programs}\")\nset(kavrel_sim_files \"${sim_files}\")\ninclude(\"${rpath_script}\")"
  COMPONENT examples)

# Debian packages: cpack in the build folder writes libkavrel<major> (libraries and the
# schemas), libkavrel-dev (headers, IDL, CMake and pkg-config files) and kavrel-examples (the
# example programs, and the simulated chassis and boards that instrument-app runs on), each with
# its files stripped and their debug information in <package>-dbgsym_<version>_<arch>.ddeb. The
# libraries' dependencies come from dpkg-shlibdeps; the shlibs file of libkavrel<major> lets
# dpkg-shlibdeps name it for programs built against it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kavrel")
set(CPACK_PACKAGE_CONTACT "kavrel maintainers <maintainers@kavrel.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev examples)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs' own libraries are found in the build tree (they belong to no installed package;
# the component dependency on the runtime package stands for them).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_EXAMPLES_DEPENDS runtime)

# Each Description is one text (a list would join its parts with ";"): the synopsis, then the
# extended description.
set(runtime_package libkavrel${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${runtime_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# CPack's own shlibs option is not read for a package of a component; the file is written here.
set(shlibs ${PROJECT_BINARY_DIR}/cpack/runtime/shlibs)
set(shlibs_text)
foreach(library IN LISTS KAVREL_PACKAGE_LIBRARIES)
  string(APPEND shlibs_text "libkavrel${library} ${PROJECT_VERSION_MAJOR} ${runtime_package} (>= ${PROJECT_VERSION})\n")
endforeach()
file(CONFIGURE OUTPUT ${shlibs} CONTENT "${shlibs_text}")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${shlibs})
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "kavrel instrument framework - shared libraries
The libraries on which the control software of a modular measurement and timing
instrument is built (configuration documents, registry, board management,
application framework, math) with their platform layer, and the schemas that
configuration files and runtime registry descriptions are validated against.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkavrel-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
list(JOIN dev_debs ", " CPACK_DEBIAN_DEV_PACKAGE_DEPENDS)
set(CPACK_COMPONENT_DEV_DESCRIPTION "kavrel instrument framework - development files
Headers, the i_NET IDL and its generated C++ header, the CMake package
(find_package(kavrel)) and pkg-config files (kavrel-<library>).")

set(CPACK_DEBIAN_EXAMPLES_PACKAGE_NAME kavrel-examples)
set(CPACK_DEBIAN_EXAMPLES_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_EXAMPLES_DESCRIPTION "kavrel instrument framework - example programs and simulator
The example application instrument-app, registry-server and registry-client,
with the simulated chassis management controller and boards (libraries for
LD_PRELOAD in /usr/${KAVREL_SIM_LIBDIR}) and the chassis file that instrument-app runs on
without hardware (/usr/${KAVREL_SIM_DATADIR}/two_boards.txt).")
include(CPack)

# The installed framework used from outside (tests/consumer).
if(KAVREL_BUILD_TESTS AND NOT KAVREL_THREADS_ONLY)
  include(${PROJECT_SOURCE_DIR}/tests/consumer/consumer_tests.cmake)
endif()
