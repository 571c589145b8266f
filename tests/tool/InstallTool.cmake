# Installs the build into PREFIX and runs the installed tool, which must find the installed
# plug-in (and, with -v, the installed logging library) beside itself.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(installed ${BINDIR}/kestrel-sami ${LIBDIR}/libkestrel_sami.so
        ${LIBDIR}/libKestrel_Logging.so include/kestrel/Kestrel.h
        share/kestrel-sami/examples/two-languages.smi)
  if(NOT EXISTS "${PREFIX}/${installed}")
    message(FATAL_ERROR "${installed} was not installed")
  endif()
endforeach()
execute_process(COMMAND "${PREFIX}/${BINDIR}/kestrel-sami" -v info examples/styled.smi
                WORKING_DIRECTORY "${WORKDIR}"
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(READ "${EXPECTED}" expected)
if(NOT result EQUAL 0 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "installed tool: exit ${result}\n${out}${err}")
endif()
if(NOT err MATCHES "got subtitle")
  message(FATAL_ERROR "installed tool -v shows no plug-in message:\n${err}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
