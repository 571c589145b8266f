# Installs the build into PREFIX and runs the installed tool, which must find the installed
# plug-in (and, with -v, the installed logging library) relative to itself, with no help from
# the environment; then plays every example with it.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(clean_env ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH --unset=KESTREL_LOG)
execute_process(COMMAND ${clean_env} "${PREFIX}/${BINDIR}/kestrel-sami" -v info examples/styled.smi
                WORKING_DIRECTORY "${WORKDIR}"
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(READ "${EXPECTED}" expected)
if(NOT result EQUAL 0 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "installed tool: exit ${result}\n${out}${err}")
endif()
if(NOT err MATCHES "got subtitle")
  message(FATAL_ERROR "installed tool -v shows no plug-in message:\n${err}")
endif()
file(GLOB examples "${WORKDIR}/examples/*.smi")
foreach(example ${examples})
  execute_process(COMMAND ${clean_env} "${PREFIX}/${BINDIR}/kestrel-sami" play "${example}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0 OR NOT out MATCHES "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]")
    message(FATAL_ERROR "installed tool cannot play ${example}: exit ${result}\n${out}${err}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
