# talvor_fuzz_target(NAME SOURCE file.cpp LIBS lib... CORPUS dir)
#
# A fuzz target is one file defining LLVMFuzzerTestOneInput beside its
# reader's tests, with a small seed corpus in the repository. Ordinary
# builds link it with a replay driver and register "NAME_corpus" with CTest,
# so every seed (and every past crash kept there) runs in the suite.
# TALVOR_FUZZ builds (clang) make NAME a libFuzzer binary in fuzz/ of the
# build folder instead, and list every target with its corpus there in
# fuzz_targets.txt, one "NAME=CORPUS" a line, for scripts/fuzz.sh.
function(talvor_fuzz_target name)
  cmake_parse_arguments(F "" "SOURCE;CORPUS" "LIBS" ${ARGN})
  get_filename_component(corpus ${F_CORPUS} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  if(TALVOR_FUZZ)
    add_executable(${name} ${F_SOURCE})
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    set_property(GLOBAL APPEND PROPERTY TALVOR_FUZZ_TARGETS "${name}=${corpus}")
  else()
    add_executable(${name}_replay ${F_SOURCE} ${PROJECT_SOURCE_DIR}/tests/support/fuzz_replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE ${F_LIBS})
    add_test(NAME ${name}_corpus COMMAND ${name}_replay ${corpus})
    set_tests_properties(${name}_corpus PROPERTIES TIMEOUT 120)
  endif()
endfunction()

function(talvor_write_fuzz_list)
  get_property(targets GLOBAL PROPERTY TALVOR_FUZZ_TARGETS)
  list(JOIN targets "\n" text)
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz_targets.txt "${text}\n")
endfunction()
if(TALVOR_FUZZ)
  # Once every folder has added its targets.
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL talvor_write_fuzz_list)
endif()
