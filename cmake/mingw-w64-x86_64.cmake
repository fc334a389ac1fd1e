# Cross-build for 64-bit Windows with Debian's MinGW-w64 (posix thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QMT_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${QMT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QMT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${QMT_MINGW_TRIPLE}-windres)
set(CMAKE_AR           ${QMT_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       ${QMT_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP        ${QMT_MINGW_TRIPLE}-strip CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${QMT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs built here (the setup, its tests, the demo payload) run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/harness/wine-run)
