# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the POSIX
# threads variant: std::thread and std::mutex need winpthreads).
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DTALVOR_WIN_DEPS=<folder with openssl/, googletest/, include/ and qt/>
# scripts/windows.sh builds that folder in build-win/deps/.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TALVOR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TALVOR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALVOR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TALVOR_MINGW_TRIPLE}-windres)

set(TALVOR_WIN_DEPS "" CACHE PATH "Folder holding the Windows builds of OpenSSL, GoogleTest and Qt")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TALVOR_WIN_DEPS)

# Only the cross sysroot and our own dependency folder: the host's
# /usr/include holds glibc headers that would shadow MinGW's.
set(CMAKE_FIND_ROOT_PATH /usr/${TALVOR_MINGW_TRIPLE})
if(TALVOR_WIN_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${TALVOR_WIN_DEPS}/openssl ${TALVOR_WIN_DEPS}/googletest ${TALVOR_WIN_DEPS})
  set(OPENSSL_ROOT_DIR ${TALVOR_WIN_DEPS}/openssl)
  set(OPENSSL_USE_STATIC_LIBS ON)
  # Boost (headers only for Asio and Beast) and jsmn.h, copied or linked there.
  set(BOOST_INCLUDEDIR ${TALVOR_WIN_DEPS}/include)
  set(Boost_NO_SYSTEM_PATHS ON)
  if(EXISTS ${TALVOR_WIN_DEPS}/qt/lib/cmake/Qt6)
    # Qt built for Windows; moc, rcc and uic are the host's, of the same
    # version.
    list(APPEND CMAKE_FIND_ROOT_PATH ${TALVOR_WIN_DEPS}/qt)
    set(QT_HOST_PATH /usr)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu/cmake)
  endif()
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest and GoogleTest's discovery run the test programs through Wine.
find_program(TALVOR_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TALVOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TALVOR_WINE})
endif()
