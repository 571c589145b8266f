# The host tool's play and export of every example under Valgrind memcheck: no error and no
# leak (definite or indirect) through the real plug-in, ICU and logging library. Only in a
# build without sanitizers, which can't share a process with Valgrind.
find_program(KESTREL_VALGRIND valgrind)
if(NOT TARGET kestrel-sami OR KESTREL_SANITIZE OR NOT KESTREL_VALGRIND)
  return()
endif()

file(GLOB KESTREL_EXAMPLES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.smi)
set(KESTREL_VALGRIND_COMMAND ${KESTREL_VALGRIND} --quiet --error-exitcode=99
    --suppressions=${CMAKE_CURRENT_LIST_DIR}/glibc.supp
    --leak-check=full --errors-for-leak-kinds=definite,indirect
    --show-leak-kinds=definite,indirect)
foreach(example ${KESTREL_EXAMPLES})
  get_filename_component(name ${example} NAME_WE)
  add_test(NAME Valgrind.play.${name}
           COMMAND ${KESTREL_VALGRIND_COMMAND} $<TARGET_FILE:kestrel-sami> play ${example})
  add_test(NAME Valgrind.export.${name}
           COMMAND ${KESTREL_VALGRIND_COMMAND} $<TARGET_FILE:kestrel-sami> export ${example}
                   --format json -o ${CMAKE_BINARY_DIR}/valgrind-${name}.json)
  set_tests_properties(Valgrind.play.${name} Valgrind.export.${name} PROPERTIES
    ENVIRONMENT "LANG=C;LC_ALL=;KESTREL_LOG=" TIMEOUT 300 LABELS "valgrind;slow")
endforeach()
