# Writes the build identifier header: the commit of the source tree when it is a git checkout,
# else forty zeros. Run at every build (cmake -P); the header is rewritten only when the
# identifier changes, so an unchanged commit rebuilds nothing and a new commit rebuilds the one
# source that includes it.
#   SOURCE_DIR  the source tree
#   OUTPUT      the header to write
set(build_id "0000000000000000000000000000000000000000")
find_program(GIT_EXECUTABLE git)
if(GIT_EXECUTABLE)
  # Only the source tree's own repository counts, not one that merely contains it.
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --show-toplevel
                  OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE top_result ERROR_QUIET)
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --verify HEAD
                  OUTPUT_VARIABLE head OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE result ERROR_QUIET)
  file(REAL_PATH "${SOURCE_DIR}" source_real)
  if(top_result EQUAL 0)
    file(REAL_PATH "${top}" top)
  endif()
  if(top_result EQUAL 0 AND top STREQUAL source_real AND result EQUAL 0
     AND head MATCHES "^[0-9a-f]+$")
    string(LENGTH "${head}" length)
    if(length EQUAL 40)
      set(build_id "${head}")
    endif()
  endif()
endif()
set(text "// Written by the build: the commit the program was built from.\n#pragma once\n#define MOVA_BUILD_ID \"${build_id}\"\n")
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
