# Cross build for 64-bit Windows, run under 64-bit Wine: the tests' build on
# a machine whose kernel runs no 32-bit programs (cmake/wine-arch.sh):
#   cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
