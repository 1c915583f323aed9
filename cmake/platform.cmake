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
  if(MINGW)
    # The programs carry their C and C++ runtimes, so that one .exe runs
    # without MinGW's DLLs beside it; those linked with Qt's DLLs share the
    # runtime DLLs Qt itself uses (talvor_windows_runtime, below).
    add_link_options("$<$<NOT:$<BOOL:$<TARGET_PROPERTY:TALVOR_SHARED_RUNTIME>>>:-static>")
  endif()
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

# talvor_windows_runtime(TARGET [WINDOW]): a program linked with Qt's DLLs
# finds them beside it once built, laid out as windeployqt would: Qt's DLLs
# and MinGW's runtime DLLs next to the .exe and, for a WINDOW program, the
# windows and offscreen platform plugins in platforms\ and the Windows style
# in styles\. Nothing elsewhere.
function(talvor_windows_runtime target)
  if(NOT WIN32)
    return()
  endif()
  set_target_properties(${target} PROPERTIES TALVOR_SHARED_RUNTIME ON)
  set(runtime)
  if(MINGW)
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                      OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(NOT IS_ABSOLUTE "${path}")
        message(FATAL_ERROR "MinGW's ${dll} not found")
      endif()
      list(APPEND runtime ${path})
    endforeach()
  endif()
  set(dir $<TARGET_FILE_DIR:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_RUNTIME_DLLS:${target}> ${runtime} ${dir}
    COMMAND_EXPAND_LISTS VERBATIM)
  if(NOT "WINDOW" IN_LIST ARGN)
    return()
  endif()
  foreach(plugin Qt6::QWindowsIntegrationPlugin Qt6::QOffscreenIntegrationPlugin Qt6::QWindowsVistaStylePlugin)
    if(NOT TARGET ${plugin})
      message(FATAL_ERROR "Qt's ${plugin} is missing")
    endif()
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/platforms ${dir}/styles
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
            $<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin> ${dir}/platforms
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> ${dir}/styles
    VERBATIM)
endfunction()
