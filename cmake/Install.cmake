# What `cmake --install` puts where, the files an engine's build finds us with (pkg-config,
# CMake package), and the Debian package made from the same tree (`cpack -G DEB`).
include(CMakePackageConfigHelpers)

install(TARGETS kestrel_sami LIBRARY DESTINATION ${KESTREL_PLUGIN_DIR})
# With its unversioned name too: that is the name the plug-in asks for.
install(TARGETS Kestrel_Logging LIBRARY DESTINATION ${KESTREL_PRIVATE_LIBDIR})
install(DIRECTORY include/kestrel DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The boundary headers as a target an engine links to: Kestrel::Headers.
add_library(kestrel_headers INTERFACE)
set_target_properties(kestrel_headers PROPERTIES EXPORT_NAME Headers)
target_include_directories(kestrel_headers INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_compile_features(kestrel_headers INTERFACE cxx_std_20)
target_link_libraries(kestrel_headers INTERFACE ${CMAKE_DL_LIBS})
install(TARGETS kestrel_headers EXPORT KestrelTargets)
set(KESTREL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrel)
install(EXPORT KestrelTargets NAMESPACE Kestrel:: DESTINATION ${KESTREL_CMAKE_DIR})
configure_package_config_file(cmake/KestrelConfig.cmake.in
  ${CMAKE_BINARY_DIR}/KestrelConfig.cmake INSTALL_DESTINATION ${KESTREL_CMAKE_DIR}
  PATH_VARS KESTREL_PLUGIN_DIR KESTREL_PRIVATE_LIBDIR CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KestrelConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/KestrelConfig.cmake ${CMAKE_BINARY_DIR}/KestrelConfigVersion.cmake
        DESTINATION ${KESTREL_CMAKE_DIR})

# pkg-config: relative to where the .pc file lands, so an installed tree can move.
set(KESTREL_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH KESTREL_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${KESTREL_PC_DIR}
     ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" KESTREL_PC_TO_PREFIX "${KESTREL_PC_TO_PREFIX}")
configure_file(cmake/kestrel.pc.in ${CMAKE_BINARY_DIR}/kestrel.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kestrel.pc DESTINATION ${KESTREL_PC_DIR})

# The manual page, compressed as Debian ships manual pages; the shell completion; the licence.
find_program(KESTREL_GZIP gzip REQUIRED)
configure_file(docs/kestrel-sami.1 ${CMAKE_BINARY_DIR}/kestrel-sami.1 @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/kestrel-sami.1.gz
  COMMAND ${KESTREL_GZIP} -9n -c ${CMAKE_BINARY_DIR}/kestrel-sami.1
          > ${CMAKE_BINARY_DIR}/kestrel-sami.1.gz
  DEPENDS ${CMAKE_BINARY_DIR}/kestrel-sami.1 VERBATIM)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND ${KESTREL_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/docs/changelog
          > ${CMAKE_BINARY_DIR}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/changelog VERBATIM)
add_custom_target(kestrel_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/kestrel-sami.1.gz
                  ${CMAKE_BINARY_DIR}/changelog.gz)
if(KESTREL_BUILD_TOOLS)
  install(FILES ${CMAKE_BINARY_DIR}/kestrel-sami.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES completions/kestrel-sami
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()
set(KESTREL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kestrel-sami)
install(FILES LICENSE DESTINATION ${KESTREL_DOC_DIR} RENAME copyright)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${KESTREL_DOC_DIR})

# The Debian package. Library dependencies are computed from the binaries (dpkg-shlibdeps);
# the converter library the plug-in loads by name is not linked, so it is named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel-sami)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kestrel-sami developers")
set(CPACK_PACKAGE_CONTACT "kestrel-sami developers <kestrel-sami@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SAMI subtitle plug-in for the Kestrel media engine")
set(CPACK_PACKAGE_DESCRIPTION "A plug-in that lets the Kestrel media engine open SAMI subtitle\n\
files (.smi, .sami): it decodes their text, reads their style sheets and\n\
serves one styled subtitle stream per language. The package also holds the\n\
engine's public headers, a logging library, kestrel-sami, a tool that\n\
plays, inspects and exports SAMI files through the plug-in, and (when built)\n\
kestrelsamiparse, a GStreamer element that gives GStreamer players one\n\
subtitle track per language of a SAMI file.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libicu${KESTREL_ICU_MAJOR}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
include(CPack)
