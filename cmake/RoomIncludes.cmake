# Run as a script: cmake -DROOT=src -DROOM=room -DUSES=a,b -DSTAMP=file -P RoomIncludes.cmake
# Fails, naming file, line and rule, when a file in ROOT/ROOM includes a header
# of a room other than ROOM and those in USES; touches STAMP otherwise.
cmake_minimum_required(VERSION 3.20)
string(REPLACE "," ";" uses "${USES}")

# The room an include names: platform/ and gui/ hold one room per subfolder,
# every other folder of ROOT is one room. Empty for a header outside ROOT's rooms.
function(room_of path out)
  string(REPLACE "/" ";" parts "${path}")
  list(LENGTH parts depth)
  set(room "")
  if(depth GREATER 1)
    list(GET parts 0 first)
    list(GET parts 1 second)
    if(first MATCHES "^(platform|gui)$" AND depth GREATER 2)
      set(room "${first}/${second}")
    elseif(IS_DIRECTORY "${ROOT}/${first}")
      set(room "${first}")
    endif()
  endif()
  set(${out} "${room}" PARENT_SCOPE)
endfunction()

file(GLOB files "${ROOT}/${ROOM}/*.h" "${ROOT}/${ROOM}/*.cpp")
set(faults "")
foreach(file IN LISTS files)
  file(READ "${file}" text)
  # One list element per line: characters that CMake's lists treat specially stand in for themselves.
  string(REPLACE "\\" "/" text "${text}")
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "[" "(" text "${text}")
  string(REPLACE "]" ")" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\"")
      set(included "${CMAKE_MATCH_1}")
      room_of("${included}" room)
      if(room AND NOT room STREQUAL ROOM AND NOT room IN_LIST uses)
        file(RELATIVE_PATH shown "${ROOT}/.." "${file}")
        string(REPLACE ";" ", " usesText "${uses}")
        if(NOT usesText)
          set(usesText "no other room")
        endif()
        string(APPEND faults "${shown}:${number}: includes \"${included}\", but room ${ROOM} "
                             "does not use room ${room} (it uses ${usesText}; see loopmon_room in "
                             "src/${ROOM}/CMakeLists.txt and the direction in README.md)\n")
      endif()
    endif()
  endforeach()
endforeach()
if(faults)
  # Unformatted, one line per fault, so that an editor can take each to its place.
  message(NOTICE "${faults}")
  message(FATAL_ERROR "An include in room ${ROOM} crosses the rooms' rule; see above.")
endif()
file(TOUCH "${STAMP}")
