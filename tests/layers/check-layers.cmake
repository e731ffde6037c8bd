# Builds each probe of tests/layers and fails unless the compiler rejects it for not finding the
# header it includes. Run by CTest: cmake -DBUILD_DIR=... -DTARGETS=... -DHEADERS=... -P check-layers.cmake
# All probes go to the build tool at once, which keeps going past the failures they are meant to be.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} -j 2 --target ${TARGETS} -- -k 0
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
set(failures "")
foreach(target header IN ZIP_LISTS TARGETS HEADERS)
  string(REPLACE " " ";" fields "${header}")
  list(GET fields 0 library)
  list(GET fields 1 name)
  string(REGEX MATCH "${target}\\.cpp:[0-9]+:[0-9]+: fatal error: [^\n]*${name}: No such file or directory" found
    "${output}")
  if(found)
    message(STATUS "${library} cannot include ${name}")
  else()
    string(APPEND failures "${library} with ${name}: compiled, or failed for another reason\n")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}\n${output}")
endif()
