# Shared by the two MinGW toolchains. DEXALO_MINGW_TRIPLE is set by the caller.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${DEXALO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DEXALO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${DEXALO_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${DEXALO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Everything linked statically: the program folder then needs no MinGW runtime DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Tests run under Wine, in the build folder's own prefix (the top CMakeLists.txt adds it).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
