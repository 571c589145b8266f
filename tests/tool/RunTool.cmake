# Runs kestrel-sami once and compares what it printed with the expected files.
#   TOOL, WORKDIR, NAME, EXPECTED_DIR, ACTUAL_DIR
#   ARGS          the arguments, separated by "|"
#   EXIT          the exit code expected
#   STDERR_MATCH  a regular expression standard error must match, when there is no NAME.err
#   OUTPUTS       "produced=expected|..." files the run must write, compared byte for byte
#   STALE         when set, the produced files hold older, longer text before the run
# Standard output must equal EXPECTED_DIR/NAME.out (or be empty when there is none); standard
# error must equal EXPECTED_DIR/NAME.err, or match STDERR_MATCH, or be empty. What the tool
# printed is kept in ACTUAL_DIR for review.
string(REPLACE "|" ";" args "${ARGS}")
string(REPLACE "|" ";" outputs "${OUTPUTS}")
# With STALE the files are there already, longer than what the run writes, as an earlier
# export leaves them: the run must still leave exactly its own text.
string(REPEAT "stale text of an earlier export\n" 2000 stale_text)
foreach(pair IN LISTS outputs)
  string(REGEX REPLACE "=.*" "" produced "${pair}")
  file(REMOVE "${produced}")
  if(STALE)
    file(WRITE "${produced}" "${stale_text}")
  endif()
endforeach()

execute_process(COMMAND "${TOOL}" ${args}
                WORKING_DIRECTORY "${WORKDIR}"
                RESULT_VARIABLE exit_code
                OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
file(MAKE_DIRECTORY "${ACTUAL_DIR}")
file(WRITE "${ACTUAL_DIR}/${NAME}.out" "${out}")
file(WRITE "${ACTUAL_DIR}/${NAME}.err" "${err}")

set(problems "")
if(NOT "${exit_code}" STREQUAL "${EXIT}")
  string(APPEND problems "exit code ${exit_code}, expected ${EXIT}\n")
endif()

function(compare label actual expected_file)
  if(EXISTS "${expected_file}")
    file(READ "${expected_file}" expected)
  else()
    set(expected "")
  endif()
  if(NOT "${actual}" STREQUAL "${expected}")
    set(problems "${problems}${label} differs from ${expected_file}:\n--- got\n${actual}--- expected\n${expected}---\n" PARENT_SCOPE)
  endif()
endfunction()

compare("standard output" "${out}" "${EXPECTED_DIR}/${NAME}.out")
if(EXISTS "${EXPECTED_DIR}/${NAME}.err" OR NOT DEFINED STDERR_MATCH)
  compare("standard error" "${err}" "${EXPECTED_DIR}/${NAME}.err")
elseif(NOT "${err}" MATCHES "${STDERR_MATCH}")
  string(APPEND problems "standard error does not match ${STDERR_MATCH}:\n${err}\n")
endif()

foreach(pair IN LISTS outputs)
  string(REGEX REPLACE "=.*" "" produced "${pair}")
  string(REGEX REPLACE "^[^=]*=" "" expected_file "${pair}")
  if(NOT EXISTS "${produced}")
    string(APPEND problems "${produced} was not written\n")
    continue()
  endif()
  file(READ "${produced}" written)
  compare("${produced}" "${written}" "${expected_file}")
endforeach()

if(problems)
  message(FATAL_ERROR "kestrel-sami ${ARGS}\n${problems}")
endif()
