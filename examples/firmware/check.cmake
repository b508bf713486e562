# Runs fwinfo and compares what it prints with what objcopy alone makes of the stamped image:
# its first address, its size with the gaps filled (version and CRC records included), and the
# CRC in its last four bytes, little-endian.
#   cmake -DFWINFO=... -DOBJCOPY=... -DIMAGE=...srec -DVERSION_FILE=... -P check.cmake
execute_process(COMMAND ${FWINFO} OUTPUT_VARIABLE printed RESULT_VARIABLE status)
execute_process(COMMAND ${OBJCOPY} -I srec -O binary --gap-fill 0xFF ${IMAGE} image.bin
                COMMAND_ERROR_IS_FATAL ANY)
file(SIZE image.bin size)
file(STRINGS ${IMAGE} first LIMIT_COUNT 1 REGEX "^S3")
string(SUBSTRING "${first}" 4 8 address)
file(READ ${VERSION_FILE} version)
math(EXPR crc_at "${size} - 4")
file(READ image.bin crc OFFSET ${crc_at} LIMIT 4 HEX)
string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" crc "${crc}")
string(TOUPPER "${crc}" crc)
set(expected "Firmware ${version}, ${size} bytes at 0x${address}, CRC-32 0x${crc}\n")
if(NOT status EQUAL 0 OR NOT printed STREQUAL expected)
  message(FATAL_ERROR "fwinfo printed (status ${status}):\n${printed}instead of:\n${expected}")
endif()
string(STRIP "${printed}" printed)
message(STATUS "fwinfo printed as it should: ${printed}")
