# The test build. GoogleTest needs std::condition_variable, which only the posix thread model of these
# compilers has; nothing built here is shipped, and the 32-bit cases run the shipped runtime.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(triplet x86_64-w64-mingw32)
set(thread_model posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
