# Installs the program and its module into a fresh prefix inside the build folder and runs the
# installed program on the bundled example: it must find the module installed beside it.
# Arguments: -DBUILD=<build folder> -DPREFIX=<prefix to use> -DSOURCE=<source folder>.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --component areafill --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
message(STATUS "installed: ${installed}")
list(FILTER installed INCLUDE REGEX "(^|/)(areafill|areafill-filter\\.so)$")
list(LENGTH installed count)
if(NOT count EQUAL 2)
  message(FATAL_ERROR "expected the program and its module, found: ${installed}")
endif()

find_program(program areafill PATHS ${PREFIX}/bin NO_DEFAULT_PATH REQUIRED)
execute_process(
  COMMAND ${program} ${SOURCE}/examples/ladybird.png --mask ${SOURCE}/examples/ladybird-mask.png
          --method mean --quiet --prefs ${PREFIX}/prefs -o ${PREFIX}/filled.png
  RESULT_VARIABLE status ERROR_VARIABLE said)
if(NOT status EQUAL 0 OR NOT EXISTS ${PREFIX}/filled.png)
  message(FATAL_ERROR "the installed program failed (${status}): ${said}")
endif()
file(REMOVE_RECURSE ${PREFIX})
