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
