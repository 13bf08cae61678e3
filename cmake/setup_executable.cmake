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

  add_executable(${target} WIN32 "${LEXORIA_SOURCE_DIR}/src/platform/win32/win_main.cc" "${rc_file}")
  target_link_libraries(${target} PRIVATE lexoria_win32)
  target_compile_definitions(${target} PRIVATE LEXORIA_PACKAGE_VERSION=${version})
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++ -s
    -Wl,--dynamicbase -Wl,--nxcompat)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "AMD64")
    target_link_options(${target} PRIVATE -Wl,--high-entropy-va)
  else()
    target_link_options(${target} PRIVATE -Wl,--large-address-aware)
  endif()
  lexoria_stamp_checksum(${target})
endfunction()
