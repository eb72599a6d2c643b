# Shared by both toolchain files, which set `triplet`, `thread_model` and CMAKE_SYSTEM_PROCESSOR first:
# Debian's mingw-w64 cross compilers of that thread model, their resource compiler, and their own headers
# and libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${triplet}-gcc-${thread_model})
set(CMAKE_CXX_COMPILER ${triplet}-g++-${thread_model})
set(CMAKE_RC_COMPILER ${triplet}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
