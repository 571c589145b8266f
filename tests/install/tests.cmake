# What `cmake --install` gives an engine developer: the layout, the logging library's exports,
# and a host built out of tree against the installed prefix through pkg-config and through
# find_package(Kestrel), loading the installed plug-in.
if(NOT TARGET kestrel-sami)
  return()
endif()
set(ways layout)
# The hosts built out of tree are not instrumented, and an instrumented plug-in needs the
# sanitizer's runtime loaded first; the tool way checks -v, which AddressSanitizer's dlopen
# interceptor defeats (see tests/tool/tests.cmake). Those run in builds without sanitizers.
if(NOT KESTREL_SANITIZE)
  list(APPEND ways cmake pkg-config tool)
endif()
# The installed GStreamer element plays an example (not in sanitizer builds, whose element
# needs its runtime preloaded into gst-launch-1.0).
set(KESTREL_CHECK_INSTALLED_GST OFF)
if(TARGET gstkestrelsami AND NOT KESTREL_SANITIZE)
  set(KESTREL_CHECK_INSTALLED_GST ON)
endif()
foreach(way ${ways})
  add_test(NAME Install.${way}
           COMMAND ${CMAKE_COMMAND} -DWAY=${way} -DBUILD_DIR=${CMAKE_BINARY_DIR}
                   -DPREFIX=${CMAKE_BINARY_DIR}/install-${way} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                   -DLIBDIR=${CMAKE_INSTALL_LIBDIR} -DCXX=${CMAKE_CXX_COMPILER}
                   -DGENERATOR=${CMAKE_GENERATOR} -DVERSION=${PROJECT_VERSION}
                   -DGST_ELEMENT=${KESTREL_CHECK_INSTALLED_GST}
                   -DEXPECTED=${PROJECT_SOURCE_DIR}/tests/tool/expected/InfoStyled.out
                   -P ${CMAKE_CURRENT_LIST_DIR}/InstalledTree.cmake)
  set_tests_properties(Install.${way} PROPERTIES ENVIRONMENT "LANG=C;LC_ALL=;LC_MESSAGES="
                       LABELS "install;slow")
endforeach()
