# Where the core touches the system, a seam's two sides live in files named
# *_posix.cpp and *_windows.cpp beside the feature; each build keeps its own
# system's side.
function(talvor_platform_sources var)
  if(WIN32)
    list(FILTER ${var} EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER ${var} EXCLUDE REGEX "_windows\\.cpp$")
  endif()
  set(${var} ${${var}} PARENT_SCOPE)
endfunction()

if(WIN32)
  # Windows 10's API (inet_ntop, GetAdaptersAddresses flags, console modes);
  # windows.h without its min/max macros and rarely used parts.
  add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)
endif()
