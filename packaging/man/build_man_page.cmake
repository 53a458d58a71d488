# cmake -DSCDOC=... -DGZIP=... -DSOURCE=x.1.scd -DPAGE=out/x.1 -P build_man_page.cmake
# Writes PAGE from its scdoc SOURCE and PAGE.gz beside it. The date in the
# page's footer comes from SOURCE_DATE_EPOCH when the build sets it (Debian
# package builds do), else from the source's last commit, else from the
# source's time stamp: never from the clock, so a rebuild gives the same bytes.
foreach(name SCDOC GZIP SOURCE PAGE)
  if(NOT DEFINED ${name})
    message(FATAL_ERROR "build_man_page.cmake needs -D${name}=...")
  endif()
endforeach()

set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
  get_filename_component(folder ${SOURCE} DIRECTORY)
  execute_process(COMMAND git -C ${folder} log -1 --format=%ct -- ${SOURCE}
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE git_result)
  if(NOT git_result EQUAL 0)
    set(epoch "")
  endif()
endif()
if(epoch STREQUAL "")
  file(TIMESTAMP ${SOURCE} epoch "%s" UTC)
endif()

get_filename_component(out_dir ${PAGE} DIRECTORY)
file(MAKE_DIRECTORY ${out_dir})
execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch} ${SCDOC}
                INPUT_FILE ${SOURCE} OUTPUT_FILE ${PAGE}.tmp RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${PAGE}.tmp)
  message(FATAL_ERROR "scdoc failed on ${SOURCE}")
endif()
file(RENAME ${PAGE}.tmp ${PAGE})
execute_process(COMMAND ${GZIP} -9n -c ${PAGE} OUTPUT_FILE ${PAGE}.gz.tmp RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${PAGE}.gz.tmp)
  message(FATAL_ERROR "gzip failed on ${PAGE}")
endif()
file(RENAME ${PAGE}.gz.tmp ${PAGE}.gz)
