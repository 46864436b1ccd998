# zar.efi and zar-sim.efi from the same sources as the Linux programs, with
# our own runtime (this folder) and gnu-efi's headers for the firmware's
# types. Included by the top-level CMakeLists.txt when ZAR_UEFI is on, with
# cmake/UefiToolchain.cmake as the toolchain.

set(ZAR_EFI_INCLUDE_DIR /usr/include/efi CACHE PATH "gnu-efi's headers (types and GUIDs only)")
if(NOT EXISTS ${ZAR_EFI_INCLUDE_DIR}/efi.h)
  message(FATAL_ERROR "gnu-efi's headers are missing (${ZAR_EFI_INCLUDE_DIR}/efi.h): install gnu-efi")
endif()
find_program(ZAR_OBJDUMP NAMES objdump llvm-objdump REQUIRED)

# The Clang module leaves these unset on a Generic system that simulates MSVC;
# without the depfile, a changed header would not rebuild what includes it.
set(CMAKE_INCLUDE_SYSTEM_FLAG_CXX "-isystem ")
set(CMAKE_DEPFILE_FLAGS_CXX "-MD -MT <DEP_TARGET> -MF <DEP_FILE>")
set(CMAKE_CXX_DEPFILE_FORMAT gcc)
set(CMAKE_CXX_DEPENDS_USE_COMPILER TRUE)
set(CMAKE_EXECUTABLE_SUFFIX .efi)

set(ZAR_UEFI_DIR ${CMAKE_CURRENT_SOURCE_DIR}/platform/uefi)

# No red zone: firmware interrupt handlers run on our stack. No stack probes:
# there is no __chkstk, and UEFI's stack has no guard pages to step through
# one by one. No unwind tables: nothing unwinds.
set(ZAR_UEFI_OPTIONS
  ${ZAR_FREESTANDING_OPTIONS}
  -ffreestanding -mno-red-zone -fno-stack-protector -mno-stack-arg-probe
  -fno-asynchronous-unwind-tables -fno-unwind-tables
)

function(zar_uefi_objects name)
  add_library(${name} OBJECT ${ARGN})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_include_directories(${name} SYSTEM PRIVATE ${ZAR_EFI_INCLUDE_DIR} ${ZAR_EFI_INCLUDE_DIR}/x86_64)
  target_compile_options(${name} PRIVATE ${ZAR_UEFI_OPTIONS})
endfunction()

# The runtime alone, for applications that need none of the flasher.
set(ZAR_RUNTIME_PLATFORM_SOURCES platform/Format.cpp platform/Faults.cpp platform/Machine.cpp)
set(ZAR_FLASHER_SOURCES ${ZAR_CORE_SOURCES})
list(REMOVE_ITEM ZAR_FLASHER_SOURCES ${ZAR_RUNTIME_PLATFORM_SOURCES})
zar_uefi_objects(zar_uefi_core ${ZAR_FLASHER_SOURCES})
zar_uefi_objects(zar_uefi_runtime
  ${ZAR_RUNTIME_PLATFORM_SOURCES}
  ${ZAR_UEFI_DIR}/UefiRuntime.cpp
  ${ZAR_UEFI_DIR}/UefiCommandLine.cpp
  ${ZAR_UEFI_DIR}/CommandWords.cpp
  ${ZAR_UEFI_DIR}/UefiEnding.cpp
  ${ZAR_UEFI_DIR}/UefiConsole.cpp
  ${ZAR_UEFI_DIR}/UefiFiles.cpp
  ${ZAR_UEFI_DIR}/UefiFirmware.cpp
  ${ZAR_UEFI_DIR}/UefiMachine.cpp
  ${ZAR_UEFI_DIR}/UefiMemory.cpp
  ${ZAR_UEFI_DIR}/CompilerSupport.cpp
)
# memset and friends must stay loops, not calls to themselves.
set_source_files_properties(${ZAR_UEFI_DIR}/CompilerSupport.cpp PROPERTIES COMPILE_OPTIONS -fno-builtin)
zar_uefi_objects(zar_uefi_sim ${ZAR_SIM_SOURCES} ${ZAR_SIM_FRONT_END_SOURCES})
zar_uefi_objects(zar_uefi_flasher_entry ${CMAKE_CURRENT_SOURCE_DIR}/Applications/Main/ZarEntry.cpp
                 ${ZAR_UEFI_DIR}/UefiPorts.cpp)
zar_uefi_objects(zar_uefi_sim_entry ${CMAKE_CURRENT_SOURCE_DIR}/tools/zar-sim/ZarSimEntry.cpp)
zar_uefi_objects(zar_uefi_enrol_keys_entry ${ZAR_UEFI_DIR}/EnrolKeysEntry.cpp)
set(ZAR_UEFI_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/tests/qemu/uefi)
zar_uefi_objects(zar_uefi_arm_watchdog_entry ${ZAR_UEFI_TEST_DIR}/ArmWatchdog.cpp)
zar_uefi_objects(zar_uefi_foreign_timer_entry ${ZAR_UEFI_TEST_DIR}/ForeignTimer.cpp)

# /Brepro: the time stamp is a hash of the image, so two builds of the same
# sources give the same bytes.
set(ZAR_UEFI_LINK_OPTIONS /entry:efi_main /nodefaultlib /machine:x64 /Brepro /opt:ref /debug:none)

# zar_uefi_image(NAME SUBSYSTEM OBJECT-LIBRARIES...): SUBSYSTEM is
# efi_application or efi_boot_service_driver.
function(zar_uefi_image name subsystem)
  set(objects)
  foreach(library IN LISTS ARGN)
    list(APPEND objects $<TARGET_OBJECTS:${library}>)
  endforeach()
  add_executable(${name} ${objects})
  set_target_properties(${name} PROPERTIES LINKER_LANGUAGE CXX RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  target_link_options(${name} PRIVATE /subsystem:${subsystem} ${ZAR_UEFI_LINK_OPTIONS})
  # Nothing would run a global constructor: refuse an image that needs one.
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/${name}.objects CONTENT "$<JOIN:${objects},\n>\n")
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:${name}> -DOBJECT_LIST=${CMAKE_BINARY_DIR}/${name}.objects
            -DOBJDUMP=${ZAR_OBJDUMP} -DSUBSYSTEM=${subsystem} -P ${ZAR_UEFI_DIR}/CheckImage.cmake
    VERBATIM)
endfunction()

function(zar_uefi_application name)
  zar_uefi_image(${name} efi_application ${ARGN})
endfunction()

zar_uefi_application(zar zar_uefi_flasher_entry zar_uefi_core zar_uefi_runtime)
zar_uefi_application(zar-sim zar_uefi_sim_entry zar_uefi_core zar_uefi_runtime zar_uefi_sim)
# Writes Secure Boot keys into a lab or virtual machine's firmware (the
# Secure Boot QEMU case enrols its keys with it); not shipped.
zar_uefi_application(enrol-keys zar_uefi_enrol_keys_entry zar_uefi_runtime)
# The firmware around a run, for the QEMU cases (tests/qemu): a tool that
# arms the watchdog, and a driver whose timer writes to the EC's command
# port. Not shipped.
zar_uefi_application(arm-watchdog zar_uefi_arm_watchdog_entry zar_uefi_runtime)
zar_uefi_image(foreign-timer efi_boot_service_driver zar_uefi_foreign_timer_entry)

# The Shell's manual pages go beside the applications: "help zar" and
# "zar -?" read zar.man, "zar-sim.efi -?" zar-sim.man.
configure_file(${ZAR_UEFI_DIR}/zar.man ${CMAKE_BINARY_DIR}/zar.man COPYONLY)
configure_file(${ZAR_UEFI_DIR}/zar-sim.man ${CMAKE_BINARY_DIR}/zar-sim.man COPYONLY)

# cmake --install of this build: the two applications and their manual
# pages, side by side as they go onto the stick.
include(GNUInstallDirs)
install(FILES ${CMAKE_BINARY_DIR}/zar.efi ${CMAKE_BINARY_DIR}/zar-sim.efi ${CMAKE_BINARY_DIR}/zar.man
              ${CMAKE_BINARY_DIR}/zar-sim.man
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zar)
