# Text input tests of their own shape.

# Unit tests encode their sample text with the system's ICU itself, linked here only: the
# plug-in still loads ICU at run time.
target_include_directories(kestrel_unit_tests PRIVATE ${ICU_UC_INCLUDE_DIRS})
target_link_libraries(kestrel_unit_tests PRIVATE ${ICU_UC_LINK_LIBRARIES})

# The reader's log lines, observed through the recording logging library.
add_dependencies(kestrel_unit_tests kestrel_recording_logging)
add_test(NAME TextFileLogMessages
         COMMAND sh ${PROJECT_SOURCE_DIR}/tests/support/run-logged.sh
                 ${CMAKE_BINARY_DIR}/logged/TextFileLogMessages.log
                 $<TARGET_FILE:kestrel_unit_tests> --gtest_filter=TextFileLog.*)
set_tests_properties(TextFileLogMessages PROPERTIES
  ENVIRONMENT "LD_LIBRARY_PATH=${KESTREL_RECORDING_LOGGING_DIR};KESTREL_LOG=")

# The reader without ICU: the bridge is compiled with a library path that does not exist
# when the process starts (the test links the real ICU there later, to show that a failed
# load is never retried).
set(KESTREL_LATE_ICU ${CMAKE_BINARY_DIR}/late-icu/libicuuc-late.so)
add_executable(kestrel_text_noicu_tests
  ${CMAKE_CURRENT_LIST_DIR}/noicu/NoIcuTest.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/Utf.cpp
  ${PROJECT_SOURCE_DIR}/src/text/UCNVLibrary.cpp
  ${PROJECT_SOURCE_DIR}/src/text/ParserUtilities.cpp
  ${PROJECT_SOURCE_DIR}/src/engine/Logger.cpp
  ${PROJECT_SOURCE_DIR}/src/engine/Settings.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/posix/File.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/posix/FileUrl.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/posix/PathEncoding.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/posix/SharedLibrary.cpp)
target_include_directories(kestrel_text_noicu_tests PRIVATE
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_LIST_DIR}/..)
target_compile_definitions(kestrel_text_noicu_tests PRIVATE
  KESTREL_ICU_LIBRARY="${KESTREL_LATE_ICU}" KESTREL_ICU_SUFFIX="${KESTREL_ICU_SUFFIX}"
  KESTREL_REAL_ICU="${ICU_UC_LIBDIR}/${KESTREL_ICU_LIBRARY}")
# The shared test host refers to boundary classes whose type information this small program
# does not link.
if(KESTREL_SANITIZE MATCHES "undefined")
  target_compile_options(kestrel_text_noicu_tests PRIVATE -fno-sanitize=vptr)
endif()
target_link_libraries(kestrel_text_noicu_tests PRIVATE kestrel_test_support GTest::gtest
                      GTest::gtest_main Threads::Threads ${CMAKE_DL_LIBS})
# One process at a time: each test expects the late library to be absent when it starts.
gtest_discover_tests(kestrel_text_noicu_tests DISCOVERY_MODE PRE_TEST
                     PROPERTIES RESOURCE_LOCK kestrel_late_icu ENVIRONMENT "KESTREL_LOG=")

# The same messages as an engine records them through the loaded plug-in.
kestrel_add_logged_host_test(NAME TextInputLogMessages FILTER "TextInputLog.*")
