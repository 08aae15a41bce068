# The help file Parcelo32.HLP, written beside the programs: halibut turns
# help/parcelo32.but into a Windows help file whose context-number map is
# empty, then help/ctxomap.py fills that map from help/contexts.txt.
find_program(HALIBUT halibut REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(HELP_FILE ${CMAKE_BINARY_DIR}/Parcelo32.HLP)
add_custom_command(
  OUTPUT ${HELP_FILE}
  COMMAND ${HALIBUT} --winhelp=${HELP_FILE} ${CMAKE_SOURCE_DIR}/help/parcelo32.but
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/help/ctxomap.py ${HELP_FILE}
          ${CMAKE_SOURCE_DIR}/help/contexts.txt
  DEPENDS ${CMAKE_SOURCE_DIR}/help/parcelo32.but ${CMAKE_SOURCE_DIR}/help/contexts.txt
          ${CMAKE_SOURCE_DIR}/help/ctxomap.py
  COMMENT "Writing Parcelo32.HLP"
  VERBATIM)
add_custom_target(help_file ALL DEPENDS ${HELP_FILE})

# The tests open the help file beside their own program.
foreach(tests parcelo_tests parcelo32_tests)
  if(TARGET ${tests})
    add_dependencies(${tests} help_file)
  endif()
endforeach()

if(WIN32)
  # Opens the viewer at a context number for scripts/screenshot.
  add_executable(open_help scripts/tools/open_help.cpp)
  target_link_libraries(open_help PRIVATE user32)
endif()

# The native tests also run the map writer on copies of the file.
if(TARGET parcelo_tests)
  target_compile_definitions(parcelo_tests PRIVATE PARCELO_HELP_SOURCE="${CMAKE_SOURCE_DIR}/help"
                                                   PARCELO_PYTHON="${Python3_EXECUTABLE}")
endif()
