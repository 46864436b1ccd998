# UEFI applications for x86-64: clang emits PE/COFF objects for the
# Microsoft x64 ABI (the one UEFI uses), lld-link makes the PE32+ image.
# Nothing of a C runtime or of gnu-efi's ELF libraries is linked.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

find_program(ZAR_CLANGXX NAMES clang++ clang++-14 REQUIRED)
find_program(ZAR_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
set(CMAKE_CXX_COMPILER ${ZAR_CLANGXX})
# Given as a flag: CMake's Clang module drops CMAKE_CXX_COMPILER_TARGET when
# the compiler simulates MSVC on a Generic system.
set(CMAKE_CXX_FLAGS_INIT "--target=x86_64-unknown-windows")
set(CMAKE_LINKER ${ZAR_LLD_LINK})

# The compiler checks must not try to link: there is no runtime to link with.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_CXX_LINK_EXECUTABLE "<CMAKE_LINKER> <LINK_FLAGS> <OBJECTS> /out:<TARGET>")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
