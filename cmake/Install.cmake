# What `cmake --install` puts where, the files an engine's build finds us with (pkg-config,
# CMake package), and the Debian packages made from the same tree (`cpack -G DEB`). Every
# install() names the package it goes to, split as Debian splits a library, so that an engine
# that wants the plug-in alone pulls neither the tool nor GStreamer:
#   plugin     libkestrel-sami             the plug-in and the logging library
#   tool       kestrel-sami                the host tool (tools/), its manual page, completion
#   dev        libkestrel-sami-dev         headers, pkg-config and CMake package files
#   gstreamer  gstreamer1.0-kestrel-sami   the GStreamer element (gst/)
include(CMakePackageConfigHelpers)

install(TARGETS kestrel_sami LIBRARY DESTINATION ${KESTREL_PLUGIN_DIR} COMPONENT plugin)
# With its unversioned name too, in the same package: that is the name the plug-in asks for.
install(TARGETS Kestrel_Logging LIBRARY DESTINATION ${KESTREL_PRIVATE_LIBDIR} COMPONENT plugin)
install(DIRECTORY include/kestrel DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

# The boundary headers as a target an engine links to: Kestrel::Headers.
add_library(kestrel_headers INTERFACE)
set_target_properties(kestrel_headers PROPERTIES EXPORT_NAME Headers)
target_include_directories(kestrel_headers INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_compile_features(kestrel_headers INTERFACE cxx_std_20)
target_link_libraries(kestrel_headers INTERFACE ${CMAKE_DL_LIBS})
install(TARGETS kestrel_headers EXPORT KestrelTargets COMPONENT dev)
set(KESTREL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrel)
install(EXPORT KestrelTargets NAMESPACE Kestrel:: DESTINATION ${KESTREL_CMAKE_DIR}
        COMPONENT dev)
configure_package_config_file(cmake/KestrelConfig.cmake.in
  ${CMAKE_BINARY_DIR}/KestrelConfig.cmake INSTALL_DESTINATION ${KESTREL_CMAKE_DIR}
  PATH_VARS KESTREL_PLUGIN_DIR KESTREL_PRIVATE_LIBDIR CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KestrelConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/KestrelConfig.cmake ${CMAKE_BINARY_DIR}/KestrelConfigVersion.cmake
        DESTINATION ${KESTREL_CMAKE_DIR} COMPONENT dev)

# pkg-config: relative to where the .pc file lands, so an installed tree can move.
set(KESTREL_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH KESTREL_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${KESTREL_PC_DIR}
     ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" KESTREL_PC_TO_PREFIX "${KESTREL_PC_TO_PREFIX}")
configure_file(cmake/kestrel.pc.in ${CMAKE_BINARY_DIR}/kestrel.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kestrel.pc DESTINATION ${KESTREL_PC_DIR} COMPONENT dev)

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
set(KESTREL_COMPONENTS plugin dev)
set(KESTREL_PACKAGES libkestrel-sami libkestrel-sami-dev)
if(TARGET kestrel-sami)
  install(FILES ${CMAKE_BINARY_DIR}/kestrel-sami.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT tool)
  install(FILES completions/kestrel-sami
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT tool)
  list(APPEND KESTREL_COMPONENTS tool)
  list(APPEND KESTREL_PACKAGES kestrel-sami)
endif()
if(TARGET gstkestrelsami)
  list(APPEND KESTREL_COMPONENTS gstreamer)
  list(APPEND KESTREL_PACKAGES gstreamer1.0-kestrel-sami)
endif()
# Debian asks every package for its own copyright file and changelog.
foreach(component package IN ZIP_LISTS KESTREL_COMPONENTS KESTREL_PACKAGES)
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${package})
  install(FILES LICENSE DESTINATION ${doc_dir} RENAME copyright COMPONENT ${component})
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${doc_dir} COMPONENT ${component})
endforeach()

# The Debian packages are laid out under /usr whatever prefix the build was configured for:
# only relative paths are compiled in or written (the tool's way to the plug-in, the run paths,
# the prefixes of the pkg-config and CMake files), so the tree moves there whole as long as its
# directories are those of /usr. GNUInstallDirs gives the libraries lib/<multiarch> only when
# it configures for the prefix /usr; the binaries of any other build would look for the
# plug-in where the packages do not put it, so cpack refuses such a build (the options file
# below) and says how to configure.
set(KESTREL_DEB_LIBDIR lib)
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(KESTREL_DEB_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
endif()
set(CPACK_KESTREL_LAYOUT_PROBLEM "")
foreach(dir BINDIR LIBDIR INCLUDEDIR DATAROOTDIR DATADIR MANDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(CPACK_KESTREL_LAYOUT_PROBLEM
        "CMAKE_INSTALL_${dir} is the absolute path ${CMAKE_INSTALL_${dir}}, which cannot move")
  endif()
endforeach()
if(NOT CPACK_KESTREL_LAYOUT_PROBLEM AND NOT CMAKE_INSTALL_LIBDIR STREQUAL KESTREL_DEB_LIBDIR)
  string(CONCAT CPACK_KESTREL_LAYOUT_PROBLEM "its libraries go to ${CMAKE_INSTALL_LIBDIR}, "
    "and its tool and its pkg-config and CMake files look for the plug-in there")
endif()
if(CPACK_KESTREL_LAYOUT_PROBLEM)
  string(CONCAT CPACK_KESTREL_LAYOUT_PROBLEM
    "The Debian packages are laid out under /usr, libraries in ${KESTREL_DEB_LIBDIR}, and this "
    "build cannot be laid out so: configured with CMAKE_INSTALL_PREFIX=${CMAKE_INSTALL_PREFIX}, "
    "${CPACK_KESTREL_LAYOUT_PROBLEM}. Package a build configured with "
    "-DCMAKE_INSTALL_PREFIX=/usr:\n"
    "  cmake -S ${PROJECT_SOURCE_DIR} -B <dir> -DCMAKE_BUILD_TYPE=Release "
    "-DCMAKE_INSTALL_PREFIX=/usr\n  cmake --build <dir>\n  cd <dir> && cpack -G DEB")
endif()
# cpack reads this after the settings below, before it installs anything.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/KestrelCPackOptions.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT [[
# Written by cmake/Install.cmake; cpack reads it after CPackConfig.cmake.
if(CPACK_KESTREL_LAYOUT_PROBLEM)
  message(FATAL_ERROR "${CPACK_KESTREL_LAYOUT_PROBLEM}")
endif()
# Each package's description starts with a summary of its own, not the project's.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
]] @ONLY)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel-sami)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kestrel-sami developers")
set(CPACK_PACKAGE_CONTACT "kestrel-sami developers <kestrel-sami@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${KESTREL_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# Library dependencies are computed from each package's binaries (dpkg-shlibdeps); a package
# that uses the plug-in depends on the very version of it that it was built with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_PLUGIN_PACKAGE_NAME libkestrel-sami)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_SECTION libs)
# The converter library the plug-in loads by name is not linked, so it is named here.
set(CPACK_DEBIAN_PLUGIN_PACKAGE_DEPENDS "libicu${KESTREL_ICU_MAJOR}")
set(CPACK_DEBIAN_PLUGIN_DESCRIPTION "SAMI subtitle plug-in for the Kestrel media engine
A plug-in that lets the Kestrel media engine open SAMI subtitle files
(.smi, .sami): it decodes their text, reads their style sheets and serves one
styled subtitle stream per language.

This package holds the plug-in, which an engine loads by path, and the logging
library it writes through, both in a private directory.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkestrel-sami-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS plugin)
set(CPACK_DEBIAN_DEV_DESCRIPTION "SAMI subtitle plug-in for the Kestrel media engine (development files)
The engine boundary headers that an engine or a host compiles against to load
the Kestrel SAMI plug-in, with a pkg-config file (kestrel) and a CMake package
(find_package(Kestrel)) that also tell where the installed plug-in is.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME kestrel-sami)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION video)
set(CPACK_COMPONENT_TOOL_DEPENDS plugin)
set(CPACK_DEBIAN_TOOL_DESCRIPTION "tool to play, inspect and export SAMI subtitle files
kestrel-sami plays the part of a media engine: it opens a SAMI subtitle file
(.smi, .sami) through the Kestrel SAMI plug-in and shows what an engine would
receive, one stream of timed, styled subtitles per language. It plays them as
text, tells what the file holds, and exports them as SubRip, WebVTT, Advanced
SubStation or JSON.

The package also holds its manual page, bash completion and example files.")

set(CPACK_DEBIAN_GSTREAMER_PACKAGE_NAME gstreamer1.0-kestrel-sami)
set(CPACK_DEBIAN_GSTREAMER_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_GSTREAMER_DEPENDS plugin)
# Players draw the text with Pango; Korean and Japanese subtitles need a CJK font.
set(CPACK_DEBIAN_GSTREAMER_PACKAGE_SUGGESTS "fonts-noto-cjk | fonts-nanum")
set(CPACK_DEBIAN_GSTREAMER_DESCRIPTION "GStreamer element for SAMI subtitles through the Kestrel plug-in
kestrelsamiparse lets GStreamer players (everything built on playbin) read
SAMI subtitle files (.smi, .sami) with the Kestrel SAMI plug-in: every
language of the file becomes a subtitle stream of its own, as Pango markup.")
include(CPack)
