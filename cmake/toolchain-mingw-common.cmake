# The posix thread model gives std::thread; everything is linked statically so that a shipped
# binary imports nothing but Windows system DLLs.
set(CMAKE_C_COMPILER   ${QRV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QRV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${QRV_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QRV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
