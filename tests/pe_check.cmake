# Checks that a program is a 32-bit Windows console program that needs no
# DLL beyond the system's own:
#   cmake -DEXE=kelto.exe -DOBJDUMP=i686-w64-mingw32-objdump -P pe_check.cmake
file(READ "${EXE}" head LIMIT 1024 HEX)

# The little-endian value of SIZE bytes at byte OFFSET of the file's head.
function(read_le out offset size)
  set(value 0)
  foreach(i RANGE 1 ${size})
    math(EXPR pos "(${offset} + ${size} - ${i}) * 2")
    string(SUBSTRING "${head}" ${pos} 2 byte)
    math(EXPR value "${value} * 256 + 0x${byte}")
  endforeach()
  set(${out} ${value} PARENT_SCOPE)
endfunction()

function(expect what actual expected)
  if(NOT actual EQUAL expected)
    message(FATAL_ERROR "${EXE}: ${what} is ${actual}, not ${expected}")
  endif()
endfunction()

read_le(mz 0 2)
expect("the DOS signature" ${mz} 0x5A4D)  # "MZ"
read_le(pe 0x3C 4)
read_le(signature ${pe} 4)
expect("the PE signature" ${signature} 0x4550)  # "PE\0\0"
read_le(machine "${pe} + 4" 2)
expect("the machine" ${machine} 0x14C)  # i386
read_le(magic "${pe} + 24" 2)
expect("the optional header's magic" ${magic} 0x10B)  # PE32, not PE32+
read_le(subsystem "${pe} + 24 + 68" 2)
expect("the subsystem" ${subsystem} 3)  # the Windows console

# Every DLL that the program imports comes with Windows itself, and there are
# only two: each DLL more (advapi32's CryptoAPI above all) is loaded at every
# start.
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "${EXE}: no imports found in the objdump output")
endif()
string(REPLACE "DLL Name: " "" imports "${imports}")
foreach(dll ${imports})
  string(TOLOWER "${dll}" name)
  if(NOT name MATCHES "^(kernel32|msvcrt)\\.dll$")
    message(FATAL_ERROR "${EXE} needs ${dll} beside it")
  endif()
endforeach()
message(STATUS "${EXE}: 32-bit console program, imports ${imports}")
