# talvor_own_network(DIR...): every program of these folders (test programs,
# fuzz targets and their replays, benchmarks) moves into a network namespace
# of its own before main (tests/support/own_network.h), so that the fixed
# loopback addresses it binds never meet another run's. Called once a
# folder's targets exist, so that new tests get it without asking.
function(talvor_own_network)
  if(NOT TARGET talvor_own_network)
    set(sources own_network.cpp own_network_posix.cpp own_network_windows.cpp)
    list(TRANSFORM sources PREPEND ${PROJECT_SOURCE_DIR}/tests/support/)
    talvor_platform_sources(sources)
    add_library(talvor_own_network OBJECT ${sources})
  endif()
  foreach(dir ${ARGN})
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t ${targets})
      get_target_property(type ${t} TYPE)
      if(type STREQUAL "EXECUTABLE")
        target_link_libraries(${t} PRIVATE talvor_own_network)
      endif()
    endforeach()
  endforeach()
endfunction()
