# libFuzzer targets, one per parser; clang only, in a build of their own
# (scripts/fuzz configures it with LOOPMON_FUZZ). Every library is built with
# coverage for the fuzzer and AddressSanitizer+UndefinedBehaviorSanitizer, and
# any report ends the run.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "LOOPMON_FUZZ needs clang++ and its libFuzzer: -DCMAKE_CXX_COMPILER=clang++")
endif()
target_compile_options(loopmon_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                       -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
target_link_options(loopmon_options INTERFACE -fsanitize=address,undefined)

set(loopmon_fuzz_targets frame number_text profile registry scenario socket_line frame_finder
    cli_args record telnet remote_line remote_name line_settings simulator_reply capture)
foreach(name IN LISTS loopmon_fuzz_targets)
  add_executable(${name}_fuzz ${CMAKE_CURRENT_LIST_DIR}/${name}_fuzz.cpp)
  target_link_libraries(${name}_fuzz PRIVATE loopmon_sim loopmon_core loopmon_warnings)
  target_compile_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
  # The seeds alone, as a quick check that every target runs.
  add_test(NAME ${name}_fuzz_seeds COMMAND ${name}_fuzz -runs=0 ${CMAKE_CURRENT_LIST_DIR}/corpus/${name})
endforeach()
target_sources(cli_args_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/src/cli/cli_args.cpp)
list(TRANSFORM loopmon_fuzz_targets APPEND _fuzz)
add_custom_target(fuzz_targets DEPENDS ${loopmon_fuzz_targets})
