# Runs fwinfo and compares what it prints with what objcopy alone makes of the stamped image:
# its first address, and its size with the gaps filled (version record included).
#   cmake -DFWINFO=... -DOBJCOPY=... -DIMAGE=...srec -DVERSION_FILE=... -P check.cmake
execute_process(COMMAND ${FWINFO} OUTPUT_VARIABLE printed RESULT_VARIABLE status)
execute_process(COMMAND ${OBJCOPY} -I srec -O binary --gap-fill 0xFF ${IMAGE} image.bin
                COMMAND_ERROR_IS_FATAL ANY)
file(SIZE image.bin size)
file(STRINGS ${IMAGE} first LIMIT_COUNT 1 REGEX "^S3")
string(SUBSTRING "${first}" 4 8 address)
file(READ ${VERSION_FILE} version)
set(expected "Firmware ${version}, ${size} bytes at 0x${address}\n")
if(NOT status EQUAL 0 OR NOT printed STREQUAL expected)
  message(FATAL_ERROR "fwinfo printed (status ${status}):\n${printed}instead of:\n${expected}")
endif()
string(STRIP "${printed}" printed)
message(STATUS "fwinfo printed as it should: ${printed}")
