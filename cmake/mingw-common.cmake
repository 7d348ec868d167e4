# Shared by the i686 and x86_64 toolchain files: they set TOOLCHAIN_PREFIX,
# CMAKE_SYSTEM_PROCESSOR and KIVO_WINE_LOADER first.
set(CMAKE_SYSTEM_NAME Windows)
# The posix thread model: GoogleTest needs std::mutex; -static keeps the
# program free of a winpthread DLL.
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under Wine, through the loader of their own bitness,
# called by its path: /usr/bin/wine picks the 32-bit loader whenever wine32
# is installed, even on a machine that cannot run it.
set(CMAKE_CROSSCOMPILING_EMULATOR ${KIVO_WINE_LOADER})
