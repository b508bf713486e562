# The steps a firmware build takes with the tools, as custom commands on the imported executables
# SRecTools::recstamp and SRecTools::hexarray:
#
#   srectools_stamp(<output> INPUT <image> VERSION <text>
#                   [BYTE_ADDRESSED | WORD_ADDRESSED] [AT <address>]
#                   [CRC32 | CRC32_BE | CRC32_MPEG2] [STRICT])
#   srectools_embed(<target> INPUT <image> NAME <name>
#                   [FILL <byte>] [BYTE_ADDRESSED | WORD_ADDRESSED] [STRICT])
#
# A relative <output> lies in the current binary folder; a relative <image> names a file of the
# current source folder when there is one, else one of the current binary folder (the output of
# an earlier step).

# Stops configuring when the caller of `function`, given `words`, gave an unknown argument, left
# out one of `required`, gave a value keyword without its value (or an empty one), or two of the
# keywords in one of `exclusive` (lists joined by "|").
function(_srectools_check function words prefix required exclusive)
  if(DEFINED ${prefix}_UNPARSED_ARGUMENTS)
    list(GET ${prefix}_UNPARSED_ARGUMENTS 0 unknown)
    message(FATAL_ERROR "${function}: unknown argument \"${unknown}\".")
  endif()
  if(DEFINED ${prefix}_KEYWORDS_MISSING_VALUES)
    list(GET ${prefix}_KEYWORDS_MISSING_VALUES 0 keyword)
    message(FATAL_ERROR "${function}: ${keyword} needs a value.")
  endif()
  foreach(keyword IN LISTS required)
    if(NOT DEFINED ${prefix}_${keyword} AND keyword IN_LIST words)
      message(FATAL_ERROR "${function}: ${keyword} needs a value.")
    elseif(NOT DEFINED ${prefix}_${keyword})
      message(FATAL_ERROR "${function}: ${keyword} is missing.")
    endif()
  endforeach()
  string(REPLACE "|" ";" groups "${exclusive}")
  foreach(group IN LISTS groups)
    string(REPLACE "," ";" group "${group}")
    set(given "")
    foreach(keyword IN LISTS group)
      # A flag not given is FALSE; a value keyword not given is not defined.
      if(DEFINED ${prefix}_${keyword} AND NOT "${${prefix}_${keyword}}" STREQUAL "FALSE")
        list(APPEND given ${keyword})
      endif()
    endforeach()
    list(LENGTH given count)
    if(count GREATER 1)
      list(JOIN given " and " named)
      message(FATAL_ERROR "${function}: ${named} can't be used together.")
    endif()
  endforeach()
endfunction()

# The image's path, by the rule above.
function(_srectools_input path variable)
  if(NOT IS_ABSOLUTE "${path}")
    if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${path}")
      set(path "${CMAKE_CURRENT_SOURCE_DIR}/${path}")
    else()
      set(path "${CMAKE_CURRENT_BINARY_DIR}/${path}")
    endif()
  endif()
  set(${variable} "${path}" PARENT_SCOPE)
endfunction()

# The options that flags and values of the caller's arguments stand for, in the order given.
function(_srectools_options prefix variable)
  set(options "")
  foreach(pair BYTE_ADDRESSED=--byte-addressed WORD_ADDRESSED=--word-addressed STRICT=--strict
               CRC32=--crc32 CRC32_BE=--crc32-be CRC32_MPEG2=--crc32-mpeg2)
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 keyword)
    list(GET pair 1 option)
    if(${prefix}_${keyword})
      list(APPEND options ${option})
    endif()
  endforeach()
  foreach(pair AT=--at FILL=--fill)
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 keyword)
    list(GET pair 1 option)
    if(DEFINED ${prefix}_${keyword})
      list(APPEND options ${option} ${${prefix}_${keyword}})
    endif()
  endforeach()
  set(${variable} ${options} PARENT_SCOPE)
endfunction()

function(srectools_stamp output)
  cmake_parse_arguments(PARSE_ARGV 1 arg
                        "BYTE_ADDRESSED;WORD_ADDRESSED;CRC32;CRC32_BE;CRC32_MPEG2;STRICT"
                        "INPUT;VERSION;AT" "")
  _srectools_check(srectools_stamp "${ARGN}" arg "INPUT;VERSION"
                   "BYTE_ADDRESSED,WORD_ADDRESSED|CRC32,CRC32_BE,CRC32_MPEG2,AT")
  _srectools_input("${arg_INPUT}" input)
  if(NOT IS_ABSOLUTE "${output}")
    set(output "${CMAKE_CURRENT_BINARY_DIR}/${output}")
  endif()
  _srectools_options(arg options)

  # The text reaches recstamp as one argument, whatever it holds: a ";" would split a CMake
  # list and a "$<" start a generator expression, so both are written as expressions; after
  # "--", a text that starts with "-" is no option.
  set(text "${arg_VERSION}")
  string(REPLACE "$" "$<1:$>" text "${text}")
  string(REPLACE ";" "$<SEMICOLON>" text "${text}")

  # What the output is made with, in a file that changes only when that does: every generator
  # then runs the command again for a new version text, Ninja and make alike.
  set(made_with "${output}.version")
  set(content "${options}\n${arg_VERSION}\n")
  set(before "")
  if(EXISTS "${made_with}")
    file(READ "${made_with}" before)
  endif()
  if(NOT before STREQUAL content)
    file(WRITE "${made_with}" "${content}")
  endif()

  cmake_path(GET output FILENAME name)
  add_custom_command(
    OUTPUT "${output}"
    COMMAND $<TARGET_FILE:SRecTools::recstamp> ${options} -- "${text}" "${input}" "${output}"
    DEPENDS "${input}" "${made_with}" SRecTools::recstamp
    COMMENT "Stamping the version into ${name}"
    VERBATIM)
endfunction()

function(srectools_embed target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "BYTE_ADDRESSED;WORD_ADDRESSED;STRICT" "INPUT;NAME;FILL"
                        "")
  _srectools_check(srectools_embed "${ARGN}" arg "INPUT;NAME" "BYTE_ADDRESSED,WORD_ADDRESSED")
  if(NOT TARGET ${target})
    message(FATAL_ERROR "srectools_embed: ${target} is not a target.")
  endif()
  _srectools_input("${arg_INPUT}" input)
  _srectools_options(arg options)

  set(folder "${CMAKE_CURRENT_BINARY_DIR}")
  set(source "${folder}/${arg_NAME}.c")
  set(header "${folder}/${arg_NAME}.h")
  add_custom_command(
    OUTPUT "${source}" "${header}"
    COMMAND $<TARGET_FILE:SRecTools::hexarray> --name ${arg_NAME} --header "${header}" ${options}
            "${input}" "${source}"
    DEPENDS "${input}" SRecTools::hexarray
    COMMENT "Writing ${arg_NAME}.c and ${arg_NAME}.h"
    VERBATIM)
  target_sources(${target} PRIVATE "${source}" "${header}")
  target_include_directories(${target} PRIVATE "${folder}")
  # The array compiles as C or as C++: a project without C compiles it as C++.
  get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
  if(NOT "C" IN_LIST languages)
    set_source_files_properties("${source}" TARGET_DIRECTORY ${target} PROPERTIES LANGUAGE CXX)
  endif()
endfunction()
