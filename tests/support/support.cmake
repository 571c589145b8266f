# The engine stand-ins every test, fuzz harness and benchmark shares (tests/support/). They
# compile against include/kestrel only, so the host tests, which see nothing else, link them
# as well as the programs built with the plug-in's objects.
include_guard(GLOBAL)
add_library(kestrel_test_support STATIC EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/HostObjects.cpp)
target_include_directories(kestrel_test_support PUBLIC ${PROJECT_SOURCE_DIR}/include
                           ${PROJECT_SOURCE_DIR}/tests)
# Host tests hand these objects the plug-in's streams, whose type information lives inside
# the plug-in, so UBSan cannot check their dynamic types here.
if(KESTREL_SANITIZE MATCHES "undefined")
  target_compile_options(kestrel_test_support PRIVATE -fno-sanitize=vptr)
endif()
