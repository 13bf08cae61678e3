# lexoria_lean_code(<target>)
#
# Compiles <target>'s own sources for size, each function and datum in a
# section of its own (the setup's link drops the unused ones), with the source
# and build folders mapped away so that no path of the build machine reaches
# the program (two builds in different folders give the same bytes).
function(lexoria_lean_code target)
  target_compile_options(${target} PRIVATE -Os -ffunction-sections -fdata-sections
    "-ffile-prefix-map=${LEXORIA_SOURCE_DIR}/=" "-ffile-prefix-map=${CMAKE_BINARY_DIR}/=")
endfunction()

# lexoria_add_setup(<target> <package file> [VERSION <n>])
#
# Builds one setup executable carrying <package file> as resource PAK/LXRQ,
# language 1049, with the manifest and version resource, the run-times linked
# statically, and the PE checksum stamped after the link. The package version
# shown in the setup's titles is read from bytes 6 and 7 of the package at
# configure time unless VERSION is given (a generated package does not exist
# yet then).
function(lexoria_add_setup target package)
  cmake_parse_arguments(ARG "" "VERSION" "" ${ARGN})
  if(ARG_VERSION)
    set(version ${ARG_VERSION})
  elseif(EXISTS "${package}")
    file(READ "${package}" version_hex OFFSET 6 LIMIT 2 HEX)
    string(SUBSTRING "${version_hex}" 0 2 low)
    string(SUBSTRING "${version_hex}" 2 2 high)
    math(EXPR version "0x${high}${low}" OUTPUT_FORMAT DECIMAL)
  else()
    message(FATAL_ERROR "Package ${package} does not exist; give VERSION for a generated one")
  endif()

  set(LEXORIA_RC_PACKAGE "${package}")
  set(LEXORIA_RC_MANIFEST "${LEXORIA_SOURCE_DIR}/resources/lexoria-update.manifest")
  set(LEXORIA_RC_VERSION "${version}")
  set(rc_file "${CMAKE_CURRENT_BINARY_DIR}/${target}.rc")
  configure_file("${LEXORIA_SOURCE_DIR}/resources/lexoria-update.rc.in" "${rc_file}" @ONLY)
  set_source_files_properties("${rc_file}" PROPERTIES
    OBJECT_DEPENDS "${package};${LEXORIA_RC_MANIFEST}")

  add_executable(${target} WIN32 "${LEXORIA_SOURCE_DIR}/src/main/win_main.cc"
    "${LEXORIA_SOURCE_DIR}/src/platform/win32/terminate_handler.cc" "${rc_file}")
  target_link_libraries(${target} PRIVATE lexoria_win32)
  target_compile_definitions(${target} PRIVATE LEXORIA_PACKAGE_VERSION=${version})
  lexoria_lean_code(${target})
  # The linker writes no time of its own; the stamp step writes the build's.
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++ -s
    -Wl,--gc-sections -Wl,--no-insert-timestamp -Wl,--dynamicbase -Wl,--nxcompat)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "AMD64")
    target_link_options(${target} PRIVATE -Wl,--high-entropy-va)
  else()
    target_link_options(${target} PRIVATE -Wl,--large-address-aware)
  endif()
  lexoria_build_time(time_stamp)
  # The package is the resource section: on a page boundary of the file, Wine
  # maps it from the file instead of reading all of it at every start.
  lexoria_stamp_checksum(${target} TIME_STAMP ${time_stamp} PAGE_ALIGN_RESOURCES)
endfunction()

# lexoria_build_time(<out_var>)
#
# The time a build of this source tree claims, in seconds since 1970, for the
# executable's header: SOURCE_DATE_EPOCH from the environment if set, else the
# time of the checked-out commit, else 0. Never the clock, so that two builds
# of one commit give the same bytes. Taken at configure time.
function(lexoria_build_time out_var)
  set(seconds 0)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(seconds "$ENV{SOURCE_DATE_EPOCH}")
    if(NOT seconds MATCHES "^[0-9]+$")
      message(FATAL_ERROR "SOURCE_DATE_EPOCH '${seconds}' is no number of seconds")
    endif()
  else()
    find_program(_lexoria_git git NO_CACHE)
    if(_lexoria_git)
      execute_process(COMMAND "${_lexoria_git}" -C "${LEXORIA_SOURCE_DIR}" log -1 --format=%ct
        OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
        RESULT_VARIABLE git_result)
      if(git_result EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
        set(seconds "${commit_time}")
      endif()
    endif()
  endif()
  # The header holds 32 bits.
  if(seconds GREATER 4294967295)
    message(FATAL_ERROR "build time ${seconds} does not fit the 32-bit header field")
  endif()
  set(${out_var} "${seconds}" PARENT_SCOPE)
endfunction()
