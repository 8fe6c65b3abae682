# Packs the Windows build as a release and checks what a user unzips: exactly
# loopmon.exe, loopctl.exe, loopsim.exe, README-Windows.txt, the Russian guide
# guide-ru.html and the Wireshark dissector loopmon.lua in one folder, loopctl's
# translations under locale/, the text with a byte order mark, CRLF
# line ends and the Russian texts intact.
# cmake -DBUILD=<build dir> -DCPACK=<cpack> -DARCHIVE=<file name without .zip> -P release_archive.cmake
set(out ${BUILD}/release-archive-test)
file(REMOVE_RECURSE ${out})
execute_process(COMMAND ${CPACK} -G ZIP --config ${BUILD}/CPackConfig.cmake -B ${out}
                RESULT_VARIABLE result OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${log}")
endif()
set(zip ${out}/${ARCHIVE}.zip)
if(NOT EXISTS ${zip})
  file(GLOB made ${out}/*.zip)
  message(FATAL_ERROR "no ${ARCHIVE}.zip; made: ${made}")
endif()

file(MAKE_DIRECTORY ${out}/unzipped)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zip} WORKING_DIRECTORY ${out}/unzipped
                RESULT_VARIABLE result)
file(GLOB_RECURSE files RELATIVE ${out}/unzipped ${out}/unzipped/*)
list(SORT files)
set(expected ${ARCHIVE}/README-Windows.txt ${ARCHIVE}/guide-ru.html
             ${ARCHIVE}/locale/ru/LC_MESSAGES/loopctl.mo ${ARCHIVE}/loopctl.exe ${ARCHIVE}/loopmon.exe
             ${ARCHIVE}/loopmon.lua ${ARCHIVE}/loopsim.exe)
if(NOT result EQUAL 0 OR NOT files STREQUAL expected)
  message(FATAL_ERROR "the archive holds '${files}', not '${expected}'")
endif()

set(readme ${out}/unzipped/${ARCHIVE}/README-Windows.txt)
# Read as text, the line ends lose their CR: the bytes are counted as hex.
file(READ ${readme} bytes HEX)
string(SUBSTRING "${bytes}" 0 6 head)
string(REGEX MATCHALL ".." bytes "${bytes}")
set(line_feeds ${bytes})
list(FILTER line_feeds INCLUDE REGEX "^0a$")
list(LENGTH line_feeds line_feeds)
list(JOIN bytes " " joined)
string(REGEX MATCHALL "0d 0a" crlf "${joined}")
list(LENGTH crlf crlf)
file(READ ${readme} text)
string(FIND "${text}" "Поиск" russian)
string(FIND "${text}" "\n## " next_section)
if(NOT head STREQUAL "efbbbf" OR line_feeds EQUAL 0 OR NOT crlf EQUAL line_feeds
   OR russian EQUAL -1 OR NOT next_section EQUAL -1)
  message(FATAL_ERROR "README-Windows.txt: byte order mark '${head}', ${crlf} of ${line_feeds} "
                      "lines end in CRLF, Russian at ${russian}, another section at ${next_section}")
endif()
file(REMOVE_RECURSE ${out})
