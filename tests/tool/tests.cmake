# The host tool, tested as a person uses it: its output for the examples compared with
# expected files, and every error path's message and exit code. Plus unit tests of its
# markup conversion, options and encoding detection.
if(NOT TARGET kestrel-sami)
  return()
endif()

add_executable(kestrel_tool_tests
  ${CMAKE_CURRENT_LIST_DIR}/SubtitleTextTest.cpp ${CMAKE_CURRENT_LIST_DIR}/OptionsTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TextEncodingTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StreamsSideBySideTest.cpp ${CMAKE_CURRENT_LIST_DIR}/OutputFileTest.cpp)
# The tests encode their sample text with ICU itself, linked here only.
target_link_libraries(kestrel_tool_tests PRIVATE kestrel_tool_core GTest::gtest
                      GTest::gtest_main ${ICU_UC_LINK_LIBRARIES})
target_compile_definitions(kestrel_tool_tests PRIVATE
                           KESTREL_PLUGIN_PATH="$<TARGET_FILE:kestrel_sami>")
add_dependencies(kestrel_tool_tests kestrel_sami Kestrel_Logging)
gtest_discover_tests(kestrel_tool_tests DISCOVERY_MODE PRE_TEST)

set(KESTREL_TOOL_EXPECTED ${CMAKE_CURRENT_LIST_DIR}/expected)
set(KESTREL_TOOL_ACTUAL ${CMAKE_BINARY_DIR}/tool-actual)
set(KESTREL_TOOL_OUT ${CMAKE_BINARY_DIR}/tool-out)
file(MAKE_DIRECTORY ${KESTREL_TOOL_OUT})
# The tool's default language comes from the locale; the tests fix it.
set(KESTREL_TOOL_ENV "LANG=C" "LC_ALL=" "LC_MESSAGES=" "KESTREL_LOG=")
# The plug-in finds the logging library by name through its own run path; AddressSanitizer's
# dlopen interceptor makes the lookup the runtime's instead, so there the library's directory
# is named to the loader.
if(KESTREL_SANITIZE MATCHES "address")
  list(APPEND KESTREL_TOOL_ENV "LD_LIBRARY_PATH=$<TARGET_FILE_DIR:Kestrel_Logging>")
endif()

# kestrel_tool_test(NAME ARGS a b ... [EXIT n] [STDERR_MATCH re] [OUTPUTS made=expected ...]
#                   [ENV VAR=value ...])
function(kestrel_tool_test name)
  cmake_parse_arguments(T "STALE" "EXIT;STDERR_MATCH" "ARGS;OUTPUTS;ENV" ${ARGN})
  if(NOT DEFINED T_EXIT)
    set(T_EXIT 0)
  endif()
  list(JOIN T_ARGS "|" args)
  list(JOIN T_OUTPUTS "|" outputs)
  set(extra "")
  if(DEFINED T_STDERR_MATCH)
    set(extra "-DSTDERR_MATCH=${T_STDERR_MATCH}")
  endif()
  if(T_STALE)
    list(APPEND extra "-DSTALE=1")
  endif()
  add_test(NAME Tool${name}
           COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:kestrel-sami>
                   -DWORKDIR=${PROJECT_SOURCE_DIR} -DNAME=${name}
                   -DEXPECTED_DIR=${KESTREL_TOOL_EXPECTED} -DACTUAL_DIR=${KESTREL_TOOL_ACTUAL}
                   -DARGS=${args} -DEXIT=${T_EXIT} -DOUTPUTS=${outputs} ${extra}
                   -P ${CMAKE_CURRENT_LIST_DIR}/RunTool.cmake)
  set_tests_properties(Tool${name} PROPERTIES ENVIRONMENT "${KESTREL_TOOL_ENV};${T_ENV}")
endfunction()

set(ex examples)
set(data tests/tool/data)

# What each example holds, and how each encoding was decided.
kestrel_tool_test(InfoTwoLanguages ARGS info ${ex}/two-languages.smi)
kestrel_tool_test(InfoKoreanCp949Detected ARGS info ${ex}/korean-cp949.smi)
kestrel_tool_test(InfoJapaneseUtf16 ARGS info ${ex}/japanese-utf16.smi)
kestrel_tool_test(InfoStyled ARGS info ${ex}/styled.smi)
kestrel_tool_test(InfoFrenchWindows1252Detected ARGS info ${ex}/french-1252.smi)
kestrel_tool_test(InfoKoreanGivenCodePage
                  ARGS info ${ex}/korean-cp949.smi --code-page windows-949 --lang ko)
kestrel_tool_test(InfoLanguageFromLocale ARGS info ${ex}/two-languages.smi
                  ENV LC_ALL=ko_KR.UTF-8)
kestrel_tool_test(InfoShortDocument ARGS info ${data}/short.smi)
kestrel_tool_test(InfoNoSubtitles ARGS info ${data}/no-subtitles.smi)

# The samples as the engine receives them.
kestrel_tool_test(PlayTwoLanguages ARGS play ${ex}/two-languages.smi)
kestrel_tool_test(PlayStyled ARGS play ${ex}/styled.smi)
kestrel_tool_test(PlayFromInsideASubtitleAtDoubleSpeed
                  ARGS play ${ex}/two-languages.smi --from 13000 --rate 2 --lang en-US)
kestrel_tool_test(PlayBackwards ARGS play ${ex}/japanese-utf16.smi --rate -1 --stream 2)
kestrel_tool_test(PlayBackwardsFrom ARGS play ${ex}/korean-cp949.smi --rate -1 --from 9500
                  --lang ko-KR --code-page windows-949)
kestrel_tool_test(PlayRealtimeFast
                  ARGS play ${ex}/styled.smi --realtime --rate 1000)

# Each export format.
kestrel_tool_test(ExportStyledSrt ARGS export ${ex}/styled.smi --format srt)
kestrel_tool_test(ExportStyledVtt ARGS export ${ex}/styled.smi --format vtt)
kestrel_tool_test(ExportStyledJson ARGS export ${ex}/styled.smi --format json)
kestrel_tool_test(ExportTwoLanguagesSrtByLanguage
                  ARGS export ${ex}/two-languages.smi --format=srt --lang ko-KR)
kestrel_tool_test(ExportJapaneseVttByStream
                  ARGS export ${ex}/japanese-utf16.smi --format vtt --stream 2)
kestrel_tool_test(ExportKoreanJson ARGS export ${ex}/korean-cp949.smi --format json
                  --code-page windows-949)
kestrel_tool_test(ExportOneFilePerStream
                  ARGS export ${ex}/two-languages.smi --format srt -o ${KESTREL_TOOL_OUT}/two.srt
                  STDERR_MATCH "^kestrel-sami: wrote stream 1 to [^\n]*/two\\.en\\.srt\nkestrel-sami: wrote stream 2 to [^\n]*/two\\.ko\\.srt\n$"
                  OUTPUTS ${KESTREL_TOOL_OUT}/two.en.srt=${KESTREL_TOOL_EXPECTED}/two.en.srt
                          ${KESTREL_TOOL_OUT}/two.ko.srt=${KESTREL_TOOL_EXPECTED}/two.ko.srt)
# Files an earlier export left, longer than these, hold only the new text afterwards.
kestrel_tool_test(ExportOverFilesOfAnEarlierExport STALE
                  ARGS export ${ex}/two-languages.smi --format srt -o ${KESTREL_TOOL_OUT}/again.srt
                  STDERR_MATCH "^kestrel-sami: wrote stream 1 to [^\n]*/again\\.en\\.srt\nkestrel-sami: wrote stream 2 to [^\n]*/again\\.ko\\.srt\n$"
                  OUTPUTS ${KESTREL_TOOL_OUT}/again.en.srt=${KESTREL_TOOL_EXPECTED}/two.en.srt
                          ${KESTREL_TOOL_OUT}/again.ko.srt=${KESTREL_TOOL_EXPECTED}/two.ko.srt)
# A device or pipe as OUT takes every stream, one after the other, through one opening; no
# "/dev/null.en.srt" beside it.
kestrel_tool_test(ExportSeveralStreamsIntoStandardOutput
                  ARGS export ${ex}/two-languages.smi --format srt -o /dev/stdout
                  STDERR_MATCH "^kestrel-sami: wrote stream 1 to /dev/stdout\nkestrel-sami: wrote stream 2 to /dev/stdout\n$")
kestrel_tool_test(ExportSeveralStreamsIntoDevNull
                  ARGS export ${ex}/two-languages.smi --format vtt -o /dev/null
                  STDERR_MATCH "^kestrel-sami: wrote stream 1 to /dev/null\nkestrel-sami: wrote stream 2 to /dev/null\n$")

# Probing by content.
kestrel_tool_test(ProbeUtf16 ARGS probe ${ex}/japanese-utf16.smi)
kestrel_tool_test(ProbeShortFile ARGS probe ${data}/short.smi EXIT 1)
kestrel_tool_test(ProbeWebPage ARGS probe ${data}/not-sami.smi EXIT 1)

# Every failure is one sentence and an exit code.
kestrel_tool_test(ErrorMissingFile ARGS info ${ex}/missing.smi EXIT 66)
kestrel_tool_test(ErrorDirectory ARGS play ${ex} EXIT 66)
kestrel_tool_test(ErrorEmptyFile ARGS info ${data}/empty.smi EXIT 65)
kestrel_tool_test(ErrorNameRefused ARGS info ${data}/upper-case.SMI EXIT 65)
kestrel_tool_test(ErrorNotSami ARGS export ${data}/not-sami.smi --format vtt EXIT 65)
kestrel_tool_test(ErrorUnknownCodePage ARGS info ${ex}/korean-cp949.smi
                  --code-page no-such-code-page EXIT 65)
kestrel_tool_test(ErrorTextTakenAsUtf8 ARGS play ${data}/guillemet-first.smi --code-page=
                  EXIT 65)
# Made here rather than kept: 3,000 styled elements around each of 1,000 subtitles.
string(REPEAT "<span>" 3000 spans)
string(REPEAT "<SYNC Start=1000><P>x\n" 1000 blocks)
file(WRITE ${KESTREL_TOOL_OUT}/nested-styles.smi
     "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!-- span { font-weight: bold; } --></STYLE>"
     "</HEAD><BODY>${spans}${blocks}</BODY></SAMI>\n")
kestrel_tool_test(ErrorStylesMultiplied ARGS info ${KESTREL_TOOL_OUT}/nested-styles.smi EXIT 65
                  STDERR_MATCH "^kestrel-sami: the container refused [^\n]*/nested-styles\\.smi: its subtitles would take more than sixteen times its size \\(style markup repeated by deeply nested elements\\), or more memory than there is\\.\n$")
# The reason the container gives, not a guess: checked by the tool for text taken as it is,
# and read from the container's own message once decoded.
kestrel_tool_test(ErrorOneByteFile ARGS info ${data}/one-byte.smi EXIT 65
                  STDERR_MATCH "^kestrel-sami: [^\n]*/one-byte\\.smi holds too little text for the container: it needs at least one character and one more byte\\.\n$")
kestrel_tool_test(ErrorOneCharacterOfUtf16 ARGS info ${data}/utf16-one-character.smi EXIT 65
                  STDERR_MATCH "^kestrel-sami: [^\n]*/utf16-one-character\\.smi holds too little text for the container: it needs at least one character and one more byte\\.\n$")
kestrel_tool_test(ErrorBadOption ARGS play ${ex}/styled.smi --speed 2 EXIT 64)
kestrel_tool_test(ErrorSeveralStreamsToTerminal ARGS export ${ex}/two-languages.smi
                  --format vtt EXIT 64)
kestrel_tool_test(ErrorNoSuchStream ARGS play ${ex}/two-languages.smi --stream 9 EXIT 64)
kestrel_tool_test(ErrorPluginMissing ARGS info ${ex}/styled.smi --plugin /nonexistent/p.so
                  EXIT 69)
kestrel_tool_test(ErrorOutputUnwritable ARGS export ${ex}/styled.smi --format srt
                  -o ${KESTREL_TOOL_OUT}/no-such-dir/x.srt EXIT 73
                  STDERR_MATCH "^kestrel-sami: cannot write [^\n]*/no-such-dir/x\\.srt: No such file or directory\\.\n$")
# Several streams are written one by one as each is read; the first that fails stops the rest.
kestrel_tool_test(ErrorOutputUnwritableSeveralStreams ARGS export ${ex}/two-languages.smi
                  --format srt -o ${KESTREL_TOOL_OUT}/no-such-dir/two.srt EXIT 73
                  STDERR_MATCH "^kestrel-sami: cannot write [^\n]*/no-such-dir/two\\.en\\.srt: No such file or directory\\.\n$")

# -v switches the logging library on and shows the plug-in's own messages.
kestrel_tool_test(VerboseShowsPluginMessages ARGS -v info ${data}/short.smi
                  STDERR_MATCH "got subtitle -unknown- start: 250 duration: 10000 'Short\\.'")

# The installed tool: tests/install/ (Install.tool).

# ffmpeg reads the ASS and WebVTT exports back with every cue, for the examples and, when it is
# there, the corpus of real files beside the project.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(KESTREL_CORPUS_DIR ${PROJECT_SOURCE_DIR}/../shared/corpus/public)
add_test(NAME ToolExportsReadBackByFfmpeg
         COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/ffmpeg_round_trip.py
                 $<TARGET_FILE:kestrel-sami> ${PROJECT_SOURCE_DIR}/examples)
add_test(NAME ToolExportsOfRealFilesReadBackByFfmpeg
         COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/ffmpeg_round_trip.py
                 $<TARGET_FILE:kestrel-sami> ${KESTREL_CORPUS_DIR})
set_tests_properties(ToolExportsReadBackByFfmpeg ToolExportsOfRealFilesReadBackByFfmpeg
                     PROPERTIES SKIP_RETURN_CODE 77 ENVIRONMENT "${KESTREL_TOOL_ENV}")

# A file whose start is UTF-8 is opened while the rest is checked; when the rest is not UTF-8,
# it is opened again with the code page detected.
add_test(NAME ToolReadsAFileThatTurnsOutNotUtf8AsDetected
         COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/late_code_page.py
                 $<TARGET_FILE:kestrel-sami>)
set_tests_properties(ToolReadsAFileThatTurnsOutNotUtf8AsDetected
                     PROPERTIES ENVIRONMENT "${KESTREL_TOOL_ENV}")

# Every paragraph of visible text in the real files reaches a subtitle shown for some time.
add_test(NAME ToolShowsEveryParagraphOfRealFiles
         COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/corpus-paragraphs.py
                 $<TARGET_FILE:kestrel-sami> ${KESTREL_CORPUS_DIR})
set_tests_properties(ToolShowsEveryParagraphOfRealFiles
                     PROPERTIES SKIP_RETURN_CODE 77 ENVIRONMENT "${KESTREL_TOOL_ENV}")
