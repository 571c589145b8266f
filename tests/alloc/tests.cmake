# Every allocation of an open and of a read, made to fail in turn: the engine gets a failure
# code, never an exception, and nothing is lost (LeakSanitizer checks in the sanitizer build).
add_executable(kestrel_alloc_failure_tests ${CMAKE_CURRENT_LIST_DIR}/AllocationFailureTest.cpp
                                           ${CMAKE_CURRENT_LIST_DIR}/FailingAllocator.cpp)
target_link_libraries(kestrel_alloc_failure_tests PRIVATE kestrel_core kestrel_test_support
                      GTest::gtest GTest::gtest_main Threads::Threads)
target_include_directories(kestrel_alloc_failure_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
gtest_discover_tests(kestrel_alloc_failure_tests DISCOVERY_MODE PRE_TEST
                     PROPERTIES ENVIRONMENT "KESTREL_LOG=")
