# Run after linking a UEFI image: it must be a PE32+ EFI application (or,
# with -DSUBSYSTEM=efi_boot_service_driver, a boot-service driver) for
# x86-64, and no object may carry global constructors or thread-local data,
# as nothing in our runtime would set them up.
#   cmake -DIMAGE=x.efi -DOBJECT_LIST=x.objects -DOBJDUMP=objdump [-DSUBSYSTEM=...] -P CheckImage.cmake

function(read_le hex offset bytes out)
  set(value 0)
  math(EXPR last "${offset} + ${bytes} - 1")
  foreach(i RANGE ${last} ${offset} -1)
    math(EXPR at "${i} * 2")
    string(SUBSTRING "${hex}" ${at} 2 byte)
    math(EXPR value "${value} * 256 + 0x${byte}")
  endforeach()
  set(${out} ${value} PARENT_SCOPE)
endfunction()

file(READ "${IMAGE}" header LIMIT 4096 HEX)
read_le("${header}" 0 2 mz)
read_le("${header}" 60 4 pe)
read_le("${header}" ${pe} 4 signature)
math(EXPR machine_at "${pe} + 4")
math(EXPR magic_at "${pe} + 24")
math(EXPR subsystem_at "${pe} + 24 + 68")
read_le("${header}" ${machine_at} 2 machine)
read_le("${header}" ${magic_at} 2 magic)
read_le("${header}" ${subsystem_at} 2 subsystem)
# "MZ", "PE\0\0", AMD64, PE32+, EFI application (10) or boot-service driver (11)
set(wanted 10)
if(SUBSYSTEM STREQUAL "efi_boot_service_driver")
  set(wanted 11)
endif()
if(NOT mz EQUAL 23117 OR NOT signature EQUAL 17744 OR NOT machine EQUAL 34404 OR NOT magic EQUAL 523
   OR NOT subsystem EQUAL wanted)
  message(FATAL_ERROR "${IMAGE}: not a PE32+ x86-64 EFI image of subsystem ${wanted} "
                      "(machine ${machine}, magic ${magic}, subsystem ${subsystem})")
endif()

file(STRINGS "${OBJECT_LIST}" objects)
foreach(object IN LISTS objects)
  execute_process(COMMAND ${OBJDUMP} -h "${object}" OUTPUT_VARIABLE sections RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${OBJDUMP} -h ${object} failed")
  endif()
  if(sections MATCHES "[ \t](\\.CRT\\$X[CIPT][A-Z]*|\\.ctors|\\.init_array|\\.tls\\$?)[ \t\n]")
    message(FATAL_ERROR "${object} has a ${CMAKE_MATCH_1} section: a global constructor or thread-local "
                        "data that the UEFI runtime would never set up")
  endif()
endforeach()
