# What `cmake --install` gives an engine developer: the layout, the logging library's exports,
# and a host built out of tree against the installed prefix through pkg-config and through
# find_package(Kestrel), loading the installed plug-in.
if(NOT TARGET kestrel-sami)
  return()
endif()
foreach(way layout cmake pkg-config)
  add_test(NAME Install.${way}
           COMMAND ${CMAKE_COMMAND} -DWAY=${way} -DBUILD_DIR=${CMAKE_BINARY_DIR}
                   -DPREFIX=${CMAKE_BINARY_DIR}/install-${way} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                   -DLIBDIR=${CMAKE_INSTALL_LIBDIR} -DCXX=${CMAKE_CXX_COMPILER}
                   -DGENERATOR=${CMAKE_GENERATOR} -DVERSION=${PROJECT_VERSION}
                   -P ${CMAKE_CURRENT_LIST_DIR}/InstalledTree.cmake)
endforeach()
