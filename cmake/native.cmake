# Native Linux build: the parcelo front end and the native tests.
find_package(Threads REQUIRED)
target_link_libraries(parcelo_core PUBLIC Threads::Threads)
find_package(OpenSSL REQUIRED)
target_link_libraries(parcelo_core PUBLIC OpenSSL::SSL)

collect_sources(CLI_SOURCES cli)
add_executable(parcelo ${CLI_SOURCES})
target_link_libraries(parcelo PRIVATE parcelo_core)

find_package(GTest REQUIRED)
collect_sources(NATIVE_TEST_SOURCES tests/native tests/peers)
# The setup program's rules that need no window are tested here; the program
# itself is Win32 only.
collect_sources(SETUP_RULE_SOURCES setup)
list(FILTER SETUP_RULE_SOURCES EXCLUDE REGEX "/setup/filelist[^/]*\\.cpp$")
add_executable(parcelo_tests ${NATIVE_TEST_SOURCES} ${SETUP_RULE_SOURCES})
target_link_libraries(parcelo_tests PRIVATE parcelo_core GTest::gtest GTest::gtest_main)
target_include_directories(parcelo_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
add_test(NAME native_unit COMMAND parcelo_tests)

# Interoperability runs against real servers on loopback; each script starts and
# stops its own servers.
file(GLOB SERVER_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/servers/*.sh)
foreach(script ${SERVER_TESTS})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME server_${name} COMMAND bash ${script} ${CMAKE_BINARY_DIR})
  set_tests_properties(server_${name} PROPERTIES TIMEOUT 300)
endforeach()
