# 64-bit Windows: a test build of the same source, for hosts that cannot run 32-bit code. It is
# never signed or released.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
