# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 against the Qt and
# Qwt that tools/windows-build.sh builds. VELKARO_WINDOWS_QT (a variable or an
# environment variable) names that Qt's installation folder; Qwt is installed
# into the same folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELKARO_WINDOWS_HOST x86_64-w64-mingw32)
# The compilers under their plain names: windows-build.sh puts the chosen
# threads variant (win32 or posix) first on the PATH under these names.
set(CMAKE_C_COMPILER ${VELKARO_WINDOWS_HOST}-gcc)
set(CMAKE_CXX_COMPILER ${VELKARO_WINDOWS_HOST}-g++)
set(CMAKE_RC_COMPILER ${VELKARO_WINDOWS_HOST}-windres)

if(NOT VELKARO_WINDOWS_QT)
    set(VELKARO_WINDOWS_QT $ENV{VELKARO_WINDOWS_QT})
endif()
if(NOT VELKARO_WINDOWS_QT)
    message(FATAL_ERROR "VELKARO_WINDOWS_QT must name the Windows Qt's folder (see tools/windows-build.sh)")
endif()
# try_compile projects get the same setting.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELKARO_WINDOWS_QT)

set(CMAKE_FIND_ROOT_PATH ${VELKARO_WINDOWS_QT} /usr/${VELKARO_WINDOWS_HOST})
set(CMAKE_PREFIX_PATH ${VELKARO_WINDOWS_QT})
set(Qwt_ROOT ${VELKARO_WINDOWS_QT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run under Wine from ctest.
find_program(VELKARO_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VELKARO_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VELKARO_WINE})
endif()
