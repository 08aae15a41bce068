# 32-bit Windows build: parcelo32.exe, setup.exe and the Win32 tests (run under Wine).
enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR} -I${CMAKE_SOURCE_DIR}/resources")
set(CMAKE_CXX_FLAGS "${CMAKE_CXX_FLAGS} -mthreads")
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0400 _WIN32_IE=0x0500 WINVER=0x0400)

set(WIN32_LIBS comctl32 comdlg32 shell32 ole32 uuid advapi32 gdi32 user32 ws2_32 secur32 crypt32 kernel32 version)
target_link_libraries(parcelo_core PUBLIC ${WIN32_LIBS})

# The directory chooser DIRLIST: both programs link it and include
# resources/dirlist.rc.
add_library(parcelo_dirlist STATIC settings/dirlist.cpp settings/dirlist_win32.cpp)
target_include_directories(parcelo_dirlist PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(parcelo_dirlist PUBLIC gdi32 user32 kernel32)
target_link_libraries(parcelo_core PUBLIC parcelo_dirlist)

# The shell lives in a library so that the Win32 tests can create the real main window.
collect_sources(SHELL_SOURCES shell)
list(FILTER SHELL_SOURCES EXCLUDE REGEX "winmain\\.cpp$")
add_library(parcelo32_shell STATIC ${SHELL_SOURCES})
target_link_libraries(parcelo32_shell PUBLIC parcelo_core)

add_executable(parcelo32 WIN32 shell/winmain.cpp resources/parcelo32.rc)
target_link_libraries(parcelo32 PRIVATE parcelo32_shell)

# The setup program without its file list, so that a test build can install
# a list of its own: setup.exe installs the package, setup_systest.exe the
# package and the test libraries of tests/setup.
collect_sources(SETUP_SOURCES setup)
list(FILTER SETUP_SOURCES EXCLUDE REGEX "/setup/(filelist[^/]*|winmain_win32)\\.cpp$")
add_library(setup_core STATIC ${SETUP_SOURCES})
target_include_directories(setup_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(setup_core PUBLIC parcelo_dirlist ${WIN32_LIBS} lz32)

add_executable(setup WIN32 setup/winmain_win32.cpp setup/filelist_package.cpp resources/setup.rc)
target_link_libraries(setup PRIVATE setup_core)
add_executable(setup_systest WIN32 setup/winmain_win32.cpp tests/setup/filelist_systest.cpp resources/setup.rc)
target_link_libraries(setup_systest PRIVATE setup_core)

# GoogleTest compiled from the Debian sources with the cross compiler.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

collect_sources(WIN32_TEST_SOURCES tests/win32)
add_executable(parcelo32_tests ${WIN32_TEST_SOURCES} resources/parcelo32.rc)
# The setup program's dialogs are tested in the same program, over the test
# file list.
target_sources(parcelo32_tests PRIVATE tests/setup/filelist_systest.cpp resources/setup_dialogs.rc)
target_link_libraries(parcelo32_tests PRIVATE parcelo32_shell setup_core gtest)
target_include_directories(parcelo32_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
# The dial-up tests load the stand-in RASAPI32.DLL of tests/ras from ras/
# instead of Wine's; Wine takes a
# DLL of ours for a system one only when told to.
add_test(NAME win32_unit COMMAND ${CMAKE_COMMAND} -E env WINEDLLOVERRIDES=rasapi32=n,b
         ${CMAKE_SOURCE_DIR}/scripts/wine-run ${CMAKE_BINARY_DIR}/parcelo32_tests.exe)
set_tests_properties(win32_unit PROPERTIES TIMEOUT 300)
# HTTPS against nginx on loopback: the script starts nginx with a test
# authority and runs the tests that need it under Wine.
add_test(NAME win32_https COMMAND bash ${CMAKE_SOURCE_DIR}/tests/servers/https_win32.sh ${CMAKE_BINARY_DIR})
set_tests_properties(win32_https PROPERTIES TIMEOUT 300)

add_library(rasapi32_fake SHARED tests/ras/rasapi32_fake.cpp tests/ras/rasapi32_fake.def)
target_link_libraries(rasapi32_fake PRIVATE advapi32 kernel32)
target_link_options(rasapi32_fake PRIVATE -static -static-libgcc -static-libstdc++)
set_target_properties(rasapi32_fake PROPERTIES PREFIX "" OUTPUT_NAME rasapi32
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/ras)
add_dependencies(parcelo32_tests rasapi32_fake)

# Responsiveness probe of bench/run: drives a running parcelo32.exe from outside.
add_executable(bench_probe bench/win32_probe.cpp)
target_link_libraries(bench_probe PRIVATE user32)

# Big lists in the main window and the log viewer, timed in process.
add_executable(bench_lists bench/win32_lists.cpp resources/parcelo32.rc)
target_link_libraries(bench_lists PRIVATE parcelo32_shell)

# Posts a menu command to a running parcelo32.exe: scripts/screenshot opens
# its dialogs with it.
add_executable(send_command scripts/tools/send_command.cpp)
target_link_libraries(send_command PRIVATE user32 comctl32)
include(cmake/setup_tests.cmake)
