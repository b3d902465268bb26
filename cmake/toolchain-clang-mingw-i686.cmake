# Cross-compiling the 32-bit Windows build with clang and lld instead of gcc,
# against the same mingw-w64 headers, runtime and posix-thread libstdc++ that
# the gcc build uses: a second compiler, whose warnings catch faults the first
# misses. tools/build.sh --clang builds with it into build/clang.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_TRIPLE})

# Debian installs LLVM's windres only in LLVM's own folder and under a
# versioned name, beside the clang that the clang command leads to. Without a
# target it preprocesses for 64-bit Windows, whose headers are not installed.
find_program(MINGW_CLANG clang REQUIRED)
file(REAL_PATH ${MINGW_CLANG} MINGW_CLANG_REAL)
get_filename_component(LLVM_BIN_DIR ${MINGW_CLANG_REAL} DIRECTORY)
set(CMAKE_RC_COMPILER ${LLVM_BIN_DIR}/llvm-windres)
set(CMAKE_RC_FLAGS_INIT "--target=pe-i386")

# clang looks for gcc's files in a folder named by a bare version number;
# Debian's are named for the version and thread model (such as 12-posix), so
# it finds neither and falls back to the host's /usr/include. The sysroot
# keeps the host's headers out; the posix folder (GoogleTest needs its
# std::mutex) is the one the posix cross compiler reports for itself: its C++
# headers, and its libraries and crtbegin.o/crtend.o for the linker.
set(MINGW_SYSROOT /usr/${MINGW_TRIPLE})
execute_process(COMMAND ${MINGW_TRIPLE}-g++-posix -print-libgcc-file-name
    OUTPUT_VARIABLE MINGW_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(MINGW_GCC_DIR ${MINGW_LIBGCC} DIRECTORY)
set(MINGW_CXX_INCLUDE ${MINGW_GCC_DIR}/include/c++)
set(CMAKE_SYSROOT ${MINGW_SYSROOT})
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${MINGW_CXX_INCLUDE} -isystem ${MINGW_CXX_INCLUDE}/${MINGW_TRIPLE} -isystem ${MINGW_CXX_INCLUDE}/backward")
# -pthread links winpthreads, which the posix libstdc++ calls; gcc's posix
# driver always adds it, clang's only when asked.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -B${MINGW_GCC_DIR} -L${MINGW_GCC_DIR} -pthread")

set(CMAKE_FIND_ROOT_PATH ${MINGW_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Lets ctest run the Windows test executables.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
