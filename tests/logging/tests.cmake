# Logging libraries built for tests, each in a directory of its own so that a test picks one
# by LD_LIBRARY_PATH; the plug-in finds it under the engine's library name.

# Records every message to the file named by KESTREL_LOG_RECORD (kestrel_add_logged_host_test).
add_library(kestrel_recording_logging SHARED ${CMAKE_CURRENT_LIST_DIR}/RecordingLogging.cpp)
target_include_directories(kestrel_recording_logging PRIVATE ${PROJECT_SOURCE_DIR}/include)
set_target_properties(kestrel_recording_logging PROPERTIES
  OUTPUT_NAME Kestrel_Logging
  LIBRARY_OUTPUT_DIRECTORY ${KESTREL_RECORDING_LOGGING_DIR}
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
add_dependencies(kestrel_host_tests kestrel_recording_logging)

# A smoke test of the recording itself: the host test below skips unless it runs here.
kestrel_add_logged_host_test(NAME LoggingRecordsHostMessages FILTER "RecordedLog.*")

# The logging bridge against real libraries, one process per case (the Logger loads once).
add_library(kestrel_switch_logging SHARED ${CMAKE_CURRENT_LIST_DIR}/SwitchLogging.cpp)
add_library(kestrel_noconfigure_logging SHARED ${CMAKE_CURRENT_LIST_DIR}/NoConfigureLogging.cpp)
foreach(library switch noconfigure)
  target_include_directories(kestrel_${library}_logging PRIVATE ${PROJECT_SOURCE_DIR}/include)
  set_target_properties(kestrel_${library}_logging PROPERTIES
    OUTPUT_NAME Kestrel_Logging
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${library}-logging
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endforeach()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/no-logging)

add_executable(kestrel_logging_tests ${CMAKE_CURRENT_LIST_DIR}/LoggerBridgeTest.cpp)
target_link_libraries(kestrel_logging_tests PRIVATE kestrel_core GTest::gtest GTest::gtest_main)
add_dependencies(kestrel_logging_tests kestrel_switch_logging kestrel_noconfigure_logging
                 Kestrel_Logging)

function(kestrel_add_logging_case name filter library_dir)
  add_test(NAME ${name}
           COMMAND sh ${PROJECT_SOURCE_DIR}/tests/support/run-logged.sh
                   ${CMAKE_BINARY_DIR}/logged/${name}.record
                   $<TARGET_FILE:kestrel_logging_tests> --gtest_filter=${filter})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "LD_LIBRARY_PATH=${library_dir};${ARGN}")
endfunction()

kestrel_add_logging_case(LoggingWithoutLibrary "LoggerWithoutLibrary.*"
                         ${CMAKE_BINARY_DIR}/no-logging "KESTREL_LOG=")
kestrel_add_logging_case(LoggingWithoutConfigure "LoggerWithoutConfigure.*"
                         ${CMAKE_BINARY_DIR}/noconfigure-logging "KESTREL_LOG=")
kestrel_add_logging_case(LoggingEnableSwitch "LoggerEnableSwitch.*"
                         ${CMAKE_BINARY_DIR}/switch-logging "KESTREL_LOG=")
kestrel_add_logging_case(LoggingShippedLibraryToFile "LoggerShippedLibrary.AppendsFormatted*"
                         $<TARGET_FILE_DIR:Kestrel_Logging>
                         "KESTREL_LOG=${CMAKE_BINARY_DIR}/logged/LoggingShippedLibraryToFile.record")
kestrel_add_logging_case(LoggingShippedLibraryOff "LoggerShippedLibrary.StaysSilent*"
                         $<TARGET_FILE_DIR:Kestrel_Logging> "KESTREL_LOG=")
kestrel_add_logging_case(LoggingShippedLibraryWatchesOneFunction
                         "LoggerShippedLibrary.WatchesOneFunction*"
                         $<TARGET_FILE_DIR:Kestrel_Logging> "KESTREL_LOG=")
