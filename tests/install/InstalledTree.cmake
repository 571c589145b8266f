# One check of an installed tree (WAY): its layout, or a host built against it with CMake or
# pkg-config that loads the installed plug-in and plays an example.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(example "${SOURCE_DIR}/examples/two-languages.smi")
set(clean_env ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH --unset=PKG_CONFIG_PATH)

function(expect_host_plays host plugin)
  execute_process(COMMAND ${clean_env} "${host}" "${plugin}" "${example}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0 OR NOT out STREQUAL "streams: 2, subtitles in the first: 8\n")
    message(FATAL_ERROR "the out-of-tree host: exit ${result}\n${out}${err}")
  endif()
  if(NOT plugin MATCHES "^${PREFIX}/${LIBDIR}/kestrel/plugins/libkestrel_sami.so$")
    message(FATAL_ERROR "the package files point at ${plugin}, not the installed plug-in")
  endif()
endfunction()

if(WAY STREQUAL "tool")
  # The installed tool finds the plug-in (and, with -v, the logging library) relative to
  # itself, and plays every example.
  execute_process(COMMAND ${clean_env} --unset=KESTREL_LOG "${PREFIX}/bin/kestrel-sami" -v info
                          examples/styled.smi
                  WORKING_DIRECTORY "${SOURCE_DIR}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  file(READ "${EXPECTED}" expected)
  if(NOT result EQUAL 0 OR NOT out STREQUAL expected OR NOT err MATCHES "got subtitle")
    message(FATAL_ERROR "installed tool -v info: exit ${result}\n${out}${err}")
  endif()
  file(GLOB examples "${SOURCE_DIR}/examples/*.smi")
  foreach(example ${examples})
    execute_process(COMMAND ${clean_env} "${PREFIX}/bin/kestrel-sami" play "${example}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0 OR NOT out MATCHES "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]")
      message(FATAL_ERROR "installed tool cannot play ${example}: exit ${result}\n${out}${err}")
    endif()
  endforeach()
elseif(WAY STREQUAL "layout")
  set(private "${LIBDIR}/kestrel")
  foreach(installed bin/kestrel-sami ${private}/plugins/libkestrel_sami.so
          ${private}/libKestrel_Logging.so ${private}/libKestrel_Logging.so.1
          include/kestrel/Kestrel.h ${LIBDIR}/pkgconfig/kestrel.pc
          ${LIBDIR}/cmake/Kestrel/KestrelConfig.cmake share/man/man1/kestrel-sami.1.gz
          share/bash-completion/completions/kestrel-sami share/doc/kestrel-sami/copyright
          share/kestrel-sami/examples/two-languages.smi)
    if(NOT EXISTS "${PREFIX}/${installed}")
      message(FATAL_ERROR "${installed} was not installed")
    endif()
  endforeach()
  # The GStreamer element, when built, is installed where GStreamer looks, and finds the
  # installed plug-in from there.
  if(GST_ELEMENT)
    set(element "${PREFIX}/${LIBDIR}/gstreamer-1.0/libgstkestrelsami.so")
    if(NOT EXISTS "${element}")
      message(FATAL_ERROR "${LIBDIR}/gstreamer-1.0/libgstkestrelsami.so was not installed")
    endif()
    execute_process(COMMAND ${clean_env} --unset=KESTREL_SAMI_PLUGIN
                            "GST_PLUGIN_PATH=${PREFIX}/${LIBDIR}/gstreamer-1.0"
                            "GST_REGISTRY=${PREFIX}-gst-registry.bin" gst-launch-1.0 -q
                            filesrc "location=${example}" ! kestrelsamiparse ! fakesink sync=false
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "the installed element does not play ${example}: ${result}\n${out}${err}")
    endif()
  endif()
  # One version everywhere: the tool's, and the one inside the plug-in it finds.
  execute_process(COMMAND ${clean_env} "${PREFIX}/bin/kestrel-sami" --version
                  RESULT_VARIABLE result OUTPUT_VARIABLE out)
  if(NOT result EQUAL 0 OR NOT out MATCHES "^kestrel-sami ${VERSION}\nplug-in ${VERSION} ")
    message(FATAL_ERROR "kestrel-sami --version: exit ${result}\n${out}")
  endif()
  # Nothing of ours where the linker looks for libraries.
  file(GLOB public "${PREFIX}/${LIBDIR}/*.so*")
  if(public)
    message(FATAL_ERROR "installed in the public library directory: ${public}")
  endif()
  execute_process(COMMAND nm -D --defined-only "${PREFIX}/${private}/libKestrel_Logging.so.1"
                  OUTPUT_VARIABLE symbols)
  string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*\n" names "${symbols}")
  list(TRANSFORM names STRIP)
  list(FILTER names EXCLUDE REGEX "^(KESTREL_LOGGING_[0-9_]+)$")
  list(SORT names)
  if(NOT names STREQUAL "KestrelLog_close;KestrelLog_configure;KestrelLog_isEnabled;KestrelLog_observe;KestrelLog_observeFunction;KestrelLog_write")
    message(FATAL_ERROR "the logging library exports ${names}")
  endif()
  execute_process(COMMAND readelf -d "${PREFIX}/${private}/libKestrel_Logging.so.1"
                  OUTPUT_VARIABLE dynamic)
  if(NOT dynamic MATCHES "Library soname: \\[libKestrel_Logging.so.1\\]")
    message(FATAL_ERROR "the logging library's SONAME:\n${dynamic}")
  endif()
elseif(WAY STREQUAL "cmake")
  set(work "${PREFIX}-host")
  file(REMOVE_RECURSE "${work}")
  execute_process(COMMAND ${clean_env} ${CMAKE_COMMAND} -S "${SOURCE_DIR}/tests/install/host"
                          -B "${work}" -G "${GENERATOR}" -DCMAKE_CXX_COMPILER=${CXX}
                          -DCMAKE_PREFIX_PATH=${PREFIX}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(result EQUAL 0)
    execute_process(COMMAND ${CMAKE_COMMAND} --build "${work}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  endif()
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "building the host with find_package(Kestrel) failed:\n${out}${err}")
  endif()
  file(READ "${work}/plugin-path.txt" plugin)
  expect_host_plays("${work}/host" "${plugin}")
  file(REMOVE_RECURSE "${work}")
else()
  set(pc env PKG_CONFIG_PATH=${PREFIX}/${LIBDIR}/pkgconfig pkg-config)
  execute_process(COMMAND ${pc} --cflags --libs kestrel OUTPUT_VARIABLE flags
                  RESULT_VARIABLE result OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${pc} --variable=plugin kestrel OUTPUT_VARIABLE plugin
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0 OR NOT flags MATCHES "-I")
    message(FATAL_ERROR "pkg-config kestrel: ${result} '${flags}'")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  execute_process(COMMAND ${CXX} -std=c++20 "${SOURCE_DIR}/tests/install/host/main.cpp" ${flags}
                          -o "${PREFIX}-host"
                  RESULT_VARIABLE result ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "building the host with pkg-config failed:\n${err}")
  endif()
  get_filename_component(plugin "${plugin}" REALPATH)
  expect_host_plays("${PREFIX}-host" "${plugin}")
  file(REMOVE "${PREFIX}-host")
endif()
file(REMOVE_RECURSE "${PREFIX}")
