# The program we ship. The win32 thread model brings no POSIX-thread runtime (winpthreads), whose static
# copy imports functions that Windows XP lacks (GetTickCount64): the exe then imports only its own calls
# and the C runtime's.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(triplet i686-w64-mingw32)
set(thread_model win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
