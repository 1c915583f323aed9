# talvor_fuzz_target(NAME SOURCE file.cpp LIBS lib... CORPUS dir)
#
# A fuzz target is one file defining LLVMFuzzerTestOneInput beside its
# reader's tests, with a small seed corpus in the repository. Ordinary
# builds link it with a replay driver and register "NAME_corpus" with CTest,
# so every seed (and every past crash kept there) runs in the suite.
# TALVOR_FUZZ builds (clang) make NAME a libFuzzer binary instead.
function(talvor_fuzz_target name)
  cmake_parse_arguments(F "" "SOURCE;CORPUS" "LIBS" ${ARGN})
  get_filename_component(corpus ${F_CORPUS} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  if(TALVOR_FUZZ)
    add_executable(${name} ${F_SOURCE})
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_property(GLOBAL APPEND PROPERTY TALVOR_FUZZ_TARGETS "${name}=${corpus}")
  else()
    add_executable(${name}_replay ${F_SOURCE} ${PROJECT_SOURCE_DIR}/tests/support/fuzz_replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE ${F_LIBS})
    add_test(NAME ${name}_corpus COMMAND ${name}_replay ${corpus})
    set_tests_properties(${name}_corpus PROPERTIES TIMEOUT 120)
  endif()
endfunction()
