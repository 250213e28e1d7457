# The consumer tests (label e2e), included by cmake/KavrelPackage.cmake: the build is installed
# into <build>/consumer/prefix (a fixture), then tests/consumer is built against it with CMake and
# with pkg-config and run, every installed header is compiled on its own, an unknown component
# is refused by name, and the installed instrument-app runs on the installed simulated chassis
# with the consumer's plug-in.
set(stage ${PROJECT_BINARY_DIR}/consumer)
set(driver ${CMAKE_CURRENT_LIST_DIR}/consumer_test.sh)
set(flags)
if(KAVREL_SANITIZE)
  set(flags "-fsanitize=${KAVREL_SANITIZE} -fno-omit-frame-pointer")
  if(KAVREL_SANITIZE MATCHES "undefined")
    string(APPEND flags " -fno-sanitize-recover=all")
  endif()
endif()
set(env ${KAVREL_TEST_ENV} "CXX=${CMAKE_CXX_COMPILER}" "CXXFLAGS=${flags}")
if(CCACHE_PROGRAM)
  list(APPEND env "KAVREL_LAUNCHER=${CCACHE_PROGRAM}")
endif()

set(tests consumer_install consumer_cmake consumer_pkgconfig consumer_installed_headers
  consumer_unknown_component consumer_app)
add_test(NAME consumer_install COMMAND bash ${driver} install ${PROJECT_BINARY_DIR} ${stage})
add_test(NAME consumer_cmake COMMAND bash ${driver} cmake ${stage})
add_test(NAME consumer_pkgconfig COMMAND bash ${driver} pkgconfig ${stage})
add_test(NAME consumer_installed_headers COMMAND bash ${driver} headers ${stage})
add_test(NAME consumer_unknown_component COMMAND bash ${driver} unknown-component ${stage})
add_test(NAME consumer_app COMMAND bash ${driver} app ${stage})
set_tests_properties(consumer_install PROPERTIES FIXTURES_SETUP kavrel_installed)
set_tests_properties(consumer_cmake PROPERTIES FIXTURES_SETUP kavrel_consumer_built)
set_tests_properties(consumer_cmake consumer_pkgconfig consumer_installed_headers consumer_unknown_component consumer_app
  PROPERTIES FIXTURES_REQUIRED kavrel_installed)
set_tests_properties(consumer_app PROPERTIES FIXTURES_REQUIRED "kavrel_installed;kavrel_consumer_built")
set_tests_properties(${tests} PROPERTIES LABELS e2e ENVIRONMENT "${env}" TIMEOUT 900)
