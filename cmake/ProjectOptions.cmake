# Warnings and sanitizers, attached to every target through interface targets.
add_library(loopmon_warnings INTERFACE)
target_compile_options(loopmon_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                                   -Woverloaded-virtual -Wnull-dereference -Wformat=2 -Wcast-qual
                                                   -Wold-style-cast)
if(LOOPMON_WERROR)
  target_compile_options(loopmon_warnings INTERFACE -Werror)
endif()

add_library(loopmon_options INTERFACE)
if(LOOPMON_SANITIZE)
  target_compile_options(loopmon_options INTERFACE -fsanitize=${LOOPMON_SANITIZE} -fno-omit-frame-pointer -g)
  target_link_options(loopmon_options INTERFACE -fsanitize=${LOOPMON_SANITIZE})
  if(LOOPMON_SANITIZE MATCHES "undefined")
    target_compile_options(loopmon_options INTERFACE -fno-sanitize-recover=undefined)
  endif()
endif()
if(WIN32)
  # One self-contained .exe per program: no MinGW runtime DLLs to ship or to find under Wine.
  target_link_options(loopmon_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()
