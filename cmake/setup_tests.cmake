# The distribution folder (make dist) and the tests that install from it
# under Wine by driving setup.exe from outside.
find_program(MSCOMPRESS mscompress REQUIRED)
set(PARCELO_DIST_DIR ${CMAKE_BINARY_DIR}/dist CACHE PATH "Where the distribution folder is written")
set(DIST_FILES setup.exe parcelo32.exe parcelo32.hlp license.txt files.sha256)
list(TRANSFORM DIST_FILES PREPEND ${PARCELO_DIST_DIR}/ OUTPUT_VARIABLE DIST_OUTPUTS)
add_custom_command(
  OUTPUT ${DIST_OUTPUTS}
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-dist $<TARGET_FILE:setup> $<TARGET_FILE:parcelo32>
          ${CMAKE_BINARY_DIR}/Parcelo32.HLP ${CMAKE_SOURCE_DIR}/LICENSE ${PARCELO_DIST_DIR}
  DEPENDS setup parcelo32 help_file ${CMAKE_BINARY_DIR}/Parcelo32.HLP ${CMAKE_SOURCE_DIR}/LICENSE
          ${CMAKE_SOURCE_DIR}/scripts/make-dist
  COMMENT "Writing the distribution folder ${PARCELO_DIST_DIR}"
  VERBATIM)
add_custom_target(dist ALL DEPENDS ${DIST_OUTPUTS})

# Libraries with product versions 2.0 and 1.5 for the system-directory copies.
foreach(version 2_0 1_5)
  string(REPLACE "_" ";" parts ${version})
  list(GET parts 0 major)
  list(GET parts 1 minor)
  add_library(ptversion${version} SHARED tests/setup/ptversion.cpp tests/setup/ptversion.rc)
  target_compile_definitions(ptversion${version} PRIVATE PT_MAJOR=${major} PT_MINOR=${minor})
  target_link_options(ptversion${version} PRIVATE -static -static-libgcc -static-libstdc++)
  set_target_properties(ptversion${version} PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/setuptest)
endforeach()

add_executable(setup_e2e_tests tests/setup/setup_e2e_test.cpp setup/sha256.cpp)
target_include_directories(setup_e2e_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(setup_e2e_tests PRIVATE gtest shell32 advapi32 user32)
add_dependencies(setup_e2e_tests dist setup_systest ptversion2_0 ptversion1_5)
# Without Wine's menu builder: each program item saved starts one, which
# writes desktop menu entries on the host and, when the item's program is
# gone before it looks, waits for Program Manager's process to end, holding
# ctest's output pipes open.
add_test(NAME win32_setup
         COMMAND ${CMAKE_COMMAND} -E env "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d"
                 ${CMAKE_SOURCE_DIR}/scripts/wine-run ${CMAKE_BINARY_DIR}/setup_e2e_tests.exe
                 ${PARCELO_DIST_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(win32_setup PROPERTIES TIMEOUT 300)
