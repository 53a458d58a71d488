# Writes the source revision the tools print with --version, at build time
# (a configure can be days old): the commit, ", modified" when tracked files
# differ from it, or "unknown" without git or .git (a source tarball). The
# header is rewritten only when the text changes, so an unchanged tree
# rebuilds nothing.
#   cmake -DSOURCE_DIR=<tree> -DOUT=<header> -P revision.cmake
set(revision "unknown")
find_program(GIT_COMMAND git)
if(GIT_COMMAND AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND ${GIT_COMMAND} -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
                  RESULT_VARIABLE status OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(status EQUAL 0 AND commit MATCHES "^[0-9a-f]+$")
    set(revision "${commit}")
    execute_process(COMMAND ${GIT_COMMAND} -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
                    RESULT_VARIABLE status OUTPUT_VARIABLE changes ERROR_QUIET)
    if(NOT status EQUAL 0 OR NOT changes STREQUAL "")
      string(APPEND revision ", modified")
    endif()
  endif()
endif()
set(content "#pragma once\n// Generated at build time by cmake/revision.cmake; do not edit.\n#define RUVO_REVISION \"${revision}\"\n")
set(current "")
if(EXISTS "${OUT}")
  file(READ "${OUT}" current)
endif()
if(NOT current STREQUAL content)
  file(WRITE "${OUT}.new" "${content}")
  file(RENAME "${OUT}.new" "${OUT}")
endif()
