# Cross-building core/ and its C++ tests for 64-bit Windows with mingw-w64 (the
# POSIX-threads flavour, whose std::thread and std::mutex work), the tests run
# under wine. Used by `make test-windows`.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Self-contained executables: no libstdc++, libgcc or winpthread DLLs to find.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# ctest runs every test through wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
