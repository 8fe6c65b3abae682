# One library per room of src/, each naming the rooms it uses. What a room
# names is all it may include: every build checks each file of the room's
# folder against that list (cmake/RoomIncludes.cmake), because with one
# include root for all of src/ a header of any room would compile anywhere.
#
#   loopmon_room(TARGET target ROOM folder [PUBLIC rooms...] [PRIVATE rooms...])
#
# A room is named by its folder under src/ ("transport", "platform/serial");
# its library is loopmon_ and the folder with '/' as '_'. PUBLIC: a header of
# the room includes the other room; PRIVATE: only its sources do.
set(LOOPMON_ROOM_CHECK ${CMAKE_CURRENT_LIST_DIR}/RoomIncludes.cmake)

function(loopmon_room_target room out)
  string(REPLACE "/" "_" name "loopmon_${room}")
  set(${out} ${name} PARENT_SCOPE)
endfunction()

function(loopmon_room)
  cmake_parse_arguments(R "" "TARGET;ROOM" "PUBLIC;PRIVATE" ${ARGN})
  foreach(scope PUBLIC PRIVATE)
    foreach(used IN LISTS R_${scope})
      loopmon_room_target(${used} library)
      target_link_libraries(${R_TARGET} ${scope} ${library})
    endforeach()
  endforeach()
  set(uses ${R_PUBLIC} ${R_PRIVATE})
  set_property(GLOBAL APPEND PROPERTY LOOPMON_ROOMS ${R_ROOM})
  set_property(GLOBAL PROPERTY LOOPMON_ROOM_USES_${R_ROOM} ${uses})

  set(folder ${PROJECT_SOURCE_DIR}/src/${R_ROOM})
  file(GLOB files CONFIGURE_DEPENDS ${folder}/*.h ${folder}/*.cpp)
  string(REPLACE "/" "_" stampName "${R_ROOM}")
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${stampName}.includes-checked)
  string(REPLACE ";" "," usesArgument "${uses}")
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR}/src -DROOM=${R_ROOM} -DUSES=${usesArgument}
            -DSTAMP=${stamp} -P ${LOOPMON_ROOM_CHECK}
    DEPENDS ${files} ${LOOPMON_ROOM_CHECK}
    COMMENT "Checking the includes of room ${R_ROOM}"
    VERBATIM)
  target_sources(${R_TARGET} PRIVATE ${stamp})
endfunction()

# The rooms' uses must run one way: a cycle among them is refused when the
# build is configured. Rooms are taken off while one uses no room left.
function(loopmon_check_room_cycles)
  get_property(left GLOBAL PROPERTY LOOPMON_ROOMS)
  list(LENGTH left count)
  while(count GREATER 0)
    set(next "")
    foreach(room IN LISTS left)
      get_property(uses GLOBAL PROPERTY LOOPMON_ROOM_USES_${room})
      set(waiting FALSE)
      foreach(used IN LISTS uses)
        if(used IN_LIST left)
          set(waiting TRUE)
        endif()
      endforeach()
      if(waiting)
        list(APPEND next ${room})
      endif()
    endforeach()
    list(LENGTH next nextCount)
    if(nextCount EQUAL count)
      string(REPLACE ";" ", " shown "${left}")
      message(FATAL_ERROR "These rooms use each other in a cycle, or use rooms that do: ${shown}. "
                          "The direction is front ends -> window models and procedures -> session "
                          "-> transport -> platform (README.md, Layout).")
    endif()
    set(left ${next})
    set(count ${nextCount})
  endwhile()
endfunction()
