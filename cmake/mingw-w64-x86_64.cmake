# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the POSIX
# thread model, which std::thread needs). Libraries come from the prefix
# that scripts/windows/build-deps.sh fills; nothing from the host is found.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUIL_MINGW_HOST x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUIL_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUIL_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${QUIL_MINGW_HOST}-windres)
# QUIL_WINDOWS_DEPS (environment, so try_compile sees it too): the prefix.
set(CMAKE_FIND_ROOT_PATH /usr/${QUIL_MINGW_HOST} $ENV{QUIL_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# One self-contained program: the C++ runtime and threads linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
