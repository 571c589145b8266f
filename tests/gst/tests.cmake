# The GStreamer element in real pipelines: found by gst-inspect-1.0, every example through
# appsink against the tool's JSON export, playbin with a video and a two-language subtitle
# file, and a pipeline over every example under Valgrind (AddressSanitizer in its builds).
if(NOT TARGET gstkestrelsami OR KESTREL_SANITIZE MATCHES "thread")
  return()
endif()
# GStreamer's Python bindings come with the system's interpreter, which need not be the first
# python3 on the path; without them the tests skip.
set(KESTREL_GST_PYTHON ${Python3_EXECUTABLE})
execute_process(COMMAND ${KESTREL_GST_PYTHON} -c "import gi" RESULT_VARIABLE no_gi
                OUTPUT_QUIET ERROR_QUIET)
if(no_gi AND EXISTS /usr/bin/python3)
  set(KESTREL_GST_PYTHON /usr/bin/python3)
endif()

find_program(KESTREL_VALGRIND valgrind)
set(cases inspect examples playbin player seeks)
set(env "LC_ALL=;KESTREL_LOG=;G_DEBUG=fatal-criticals")
set(checker valgrind)
if(KESTREL_SANITIZE MATCHES "address")
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    return() # the programs that load the element need the runtime preloaded; GCC's is known
  endif()
  # Python and gst-launch-1.0 are not instrumented: the runtime goes first into them.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                  OUTPUT_VARIABLE asan OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND env "LD_PRELOAD=${asan}" "ASAN_OPTIONS=detect_leaks=0")
  set(checker asan)
  list(APPEND cases leaks)
elseif(NOT KESTREL_SANITIZE AND KESTREL_VALGRIND)
  list(APPEND cases leaks)
endif()
foreach(case ${cases})
  add_test(NAME GstElement.${case}
           COMMAND ${KESTREL_GST_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/element_test.py ${case}
                   ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}/examples ${checker})
  # The viewer's language comes from the locale: none but for playbin, which must pick Korean
  # where the container alone would choose English.
  set(language "LANG=C;LC_MESSAGES=")
  if(case STREQUAL "playbin")
    set(language "LANG=C;LC_MESSAGES=ko_KR.UTF-8")
  endif()
  set_tests_properties(GstElement.${case} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300
                       ENVIRONMENT "${env};${language}" LABELS "gst;slow")
endforeach()
