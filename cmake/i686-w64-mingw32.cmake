# Cross-compiling the Windows executable (32-bit x86) with mingw-w64 on Linux.
# Test executables run through Wine, found on PATH; without it the build
# still works and only the tests that run Windows code are left out.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CERTINSTALL_MINGW_PREFIX i686-w64-mingw32)
# The POSIX thread model: googletest needs std::mutex, which gcc 12 has only
# there. The program starts no thread, and -static links the thread library
# in, so the executable still imports only system DLLs.
set(CMAKE_C_COMPILER ${CERTINSTALL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CERTINSTALL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${CERTINSTALL_MINGW_PREFIX}-windres)

# Libraries and headers from the mingw-w64 tree only; tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${CERTINSTALL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(CERTINSTALL_WINE NAMES wine DOC "Wine, to run the Windows test executables")
if(CERTINSTALL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CERTINSTALL_WINE}")
endif()
