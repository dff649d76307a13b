# Cross-build for 64-bit Windows: the Windows tests, the demo and the
# benchmarks on a host that cannot execute 32-bit x86 code itself (its 32-bit
# Wine would run under an emulator, if at all).
set(UPD_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
