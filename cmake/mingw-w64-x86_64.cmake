# Cross build for 64-bit Windows with Debian's MinGW-w64 (the POSIX-threads
# variant, whose libstdc++ has std::thread), against the Qt 5 Core that
# scripts/build-qt-windows.sh builds and caches.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PS_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PS_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PS_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PS_MINGW_PREFIX}-windres)

set(PS_QT_WINDOWS /var/cache/dirurarovavu/qt5-mingw CACHE PATH "Qt 5 for MinGW-w64 (scripts/build-qt-windows.sh)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PS_QT_WINDOWS)  # the compiler checks read this file too
get_filename_component(PS_QT_WINDOWS_DIR ${PS_QT_WINDOWS} REALPATH)
if(NOT EXISTS ${PS_QT_WINDOWS_DIR}/.complete)
  message(FATAL_ERROR "No Qt for Windows in ${PS_QT_WINDOWS}: run scripts/build-qt-windows.sh first")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${PS_MINGW_PREFIX} ${PS_QT_WINDOWS_DIR})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One C runtime for the program and Qt: the UCRT, through the compiler specs
# Qt was built with. The programs carry their C++ runtime, so Wine (or a bare
# Windows) needs no MinGW DLLs beside them.
set(CMAKE_C_FLAGS_INIT "-specs=${PS_QT_WINDOWS_DIR}/ucrt.specs")
set(CMAKE_CXX_FLAGS_INIT "-specs=${PS_QT_WINDOWS_DIR}/ucrt.specs")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
