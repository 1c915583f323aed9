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
  enable_language(RC)
endif()

# talvor_windows_resource(TARGET DESCRIPTION): the program's icon and
# version resource on Windows; nothing elsewhere.
function(talvor_windows_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(TALVOR_RC_NAME ${target})
  set(TALVOR_RC_DESCRIPTION ${description})
  set(TALVOR_RC_ICON ${PROJECT_SOURCE_DIR}/resources/icon.ico)
  set(TALVOR_RC_TWEAK 0)
  if(PROJECT_VERSION_TWEAK)
    set(TALVOR_RC_TWEAK ${PROJECT_VERSION_TWEAK})
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/resources/windows_version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
endfunction()
