# Cross-compiling the 32-bit Windows build with clang and lld instead of gcc,
# against the same mingw-w64 headers, runtime and posix-thread libstdc++ that
# the gcc build uses: a second compiler, whose warnings catch faults the first
# misses. tools/build.sh --clang builds with it into build/clang.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET i686-w64-mingw32)
# Debian installs LLVM's windres only under its versioned name. Without a
# target it preprocesses for 64-bit Windows, whose headers are not installed.
set(CMAKE_RC_COMPILER llvm-windres-14)
set(CMAKE_RC_FLAGS_INIT "--target=pe-i386")

# clang 14 looks for gcc's files in a folder named by a bare version number;
# Debian's are in 12-posix and 12-win32, so it finds neither and falls back to
# the host's /usr/include. The sysroot keeps the host's headers out; the
# posix folder (GoogleTest needs its std::mutex) is named by hand: its C++
# headers, and its libraries and crtbegin.o/crtend.o for the linker.
set(MINGW_SYSROOT /usr/i686-w64-mingw32)
set(MINGW_GCC_DIR /usr/lib/gcc/i686-w64-mingw32/12-posix)
set(CMAKE_SYSROOT ${MINGW_SYSROOT})
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${MINGW_GCC_DIR}/include/c++ -isystem ${MINGW_GCC_DIR}/include/c++/i686-w64-mingw32 -isystem ${MINGW_GCC_DIR}/include/c++/backward")
# -pthread links winpthreads, which the posix libstdc++ calls; gcc's posix
# driver always adds it, clang's only when asked.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -B${MINGW_GCC_DIR} -L${MINGW_GCC_DIR} -pthread")

set(CMAKE_FIND_ROOT_PATH ${MINGW_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Lets ctest run the Windows test executables.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
