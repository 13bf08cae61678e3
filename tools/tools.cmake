# Build-time tools: the PE checksum stamp and the sample package generator.
#
# include() this from the top-level CMakeLists.txt after project(), with
# LEXORIA_SOURCE_DIR set to the repository root. Works in the native host
# build and in the mingw cross builds. Defines:
#
#   lexoria_pe_checksum   static library target of src/install/pe_checksum.cc,
#                         built by this build's own compiler (in the host
#                         build: for the unit tests). Carries the include
#                         directory src/ and C++20.
#   LEXORIA_STAMP_TOOL    command that runs stamp_checksum on the build
#                         machine. In the host build it is the generator
#                         expression $<TARGET_FILE:stamp_checksum>, so use it
#                         where generator expressions work (add_custom_command,
#                         add_test(NAME ...)); in cross builds a plain path.
#   LEXORIA_PACKAGE_TOOL  the same for make_sample_package.
#   lexoria_host_tools    target that builds both tools; depend on it.
#   LEXORIA_HOST_CXX      cache variable, cross builds only: the native C++
#                         compiler for the tools (default g++; may carry a
#                         launcher, e.g. "ccache g++").
#
#   lexoria_stamp_checksum(<target> [TIME_STAMP <seconds>] [PAGE_ALIGN_RESOURCES])
#       Adds a POST_BUILD step that stamps the PE checksum into <target>'s
#       file, after writing <seconds> into the header's TimeDateStamp if
#       given, and before that, with PAGE_ALIGN_RESOURCES, after moving the
#       resource section's data to a page boundary of the file (so that Wine
#       maps a large resource from the file instead of reading it at every
#       start). POST_BUILD steps run in the order they were added: call this
#       after adding any step that changes the file (strip), and sign after it.
#       Windows targets only (fails at configure time otherwise).
#
#   lexoria_sample_package(<out_var> <path> <size> <version>)
#       Adds a custom command that generates a sample package of <size> bytes
#       with <version> at bytes 6-7 at <path> (relative paths are taken from
#       the current binary directory), and sets <out_var> to its absolute
#       path. As with any custom command output, a target in the same
#       directory must consume the file (as a source, or through
#       OBJECT_DEPENDS of the .rc that embeds it) for the command to run.

include_guard(GLOBAL)

if(NOT DEFINED LEXORIA_SOURCE_DIR)
  message(FATAL_ERROR "tools.cmake: set LEXORIA_SOURCE_DIR to the repository root before include()")
endif()

set(_lexoria_checksum_sources
    "${LEXORIA_SOURCE_DIR}/src/install/pe_checksum.cc"
    "${LEXORIA_SOURCE_DIR}/src/install/pe_checksum.h")
set(_lexoria_stamp_sources "${LEXORIA_SOURCE_DIR}/tools/stamp_checksum.cc")
set(_lexoria_package_sources "${LEXORIA_SOURCE_DIR}/tools/make_sample_package.cc")

add_library(lexoria_pe_checksum STATIC ${_lexoria_checksum_sources})
target_include_directories(lexoria_pe_checksum PUBLIC "${LEXORIA_SOURCE_DIR}/src")
target_compile_features(lexoria_pe_checksum PUBLIC cxx_std_20)

if(NOT CMAKE_CROSSCOMPILING)
  # The build machine is the target: ordinary executables.
  add_executable(stamp_checksum ${_lexoria_stamp_sources})
  target_link_libraries(stamp_checksum PRIVATE lexoria_pe_checksum)
  add_executable(make_sample_package ${_lexoria_package_sources})
  target_compile_features(make_sample_package PRIVATE cxx_std_20)
  # Optimised even in Debug builds: the package generator writes ~88 MB per run.
  target_compile_options(stamp_checksum PRIVATE -O2)
  target_compile_options(make_sample_package PRIVATE -O2)

  add_custom_target(lexoria_host_tools)
  add_dependencies(lexoria_host_tools stamp_checksum make_sample_package)

  set(LEXORIA_STAMP_TOOL "$<TARGET_FILE:stamp_checksum>")
  set(LEXORIA_PACKAGE_TOOL "$<TARGET_FILE:make_sample_package>")
  # Naming the executable targets gives file-level dependencies as well.
  set(_lexoria_package_tool_depends make_sample_package)
else()
  # The project's compiler makes Windows programs, which cannot run during
  # the build; the tools are compiled by the native compiler instead, outside
  # CMake's toolchain (so none of the cross flags reach them).
  set(LEXORIA_HOST_CXX "g++" CACHE STRING "Native C++ compiler for the build-time tools")
  separate_arguments(_lexoria_host_cxx UNIX_COMMAND "${LEXORIA_HOST_CXX}")
  list(GET _lexoria_host_cxx 0 _lexoria_host_cxx_program)
  find_program(_lexoria_host_cxx_path NAMES "${_lexoria_host_cxx_program}" NO_CACHE)
  if(NOT _lexoria_host_cxx_path)
    message(FATAL_ERROR "tools.cmake: native compiler '${_lexoria_host_cxx_program}' "
                        "(LEXORIA_HOST_CXX) not found; the build-time tools need one")
  endif()

  set(_lexoria_host_dir "${CMAKE_BINARY_DIR}/host_tools")
  set(LEXORIA_STAMP_TOOL "${_lexoria_host_dir}/stamp_checksum")
  set(LEXORIA_PACKAGE_TOOL "${_lexoria_host_dir}/make_sample_package")
  set(_lexoria_host_flags -O2 -std=c++20 "-I${LEXORIA_SOURCE_DIR}/src")

  add_custom_command(
    OUTPUT "${LEXORIA_STAMP_TOOL}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${_lexoria_host_dir}"
    COMMAND ${_lexoria_host_cxx} ${_lexoria_host_flags} -o "${LEXORIA_STAMP_TOOL}"
            ${_lexoria_stamp_sources} "${LEXORIA_SOURCE_DIR}/src/install/pe_checksum.cc"
    DEPENDS ${_lexoria_stamp_sources} ${_lexoria_checksum_sources}
    COMMENT "Building stamp_checksum for the build machine"
    VERBATIM)
  add_custom_command(
    OUTPUT "${LEXORIA_PACKAGE_TOOL}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${_lexoria_host_dir}"
    COMMAND ${_lexoria_host_cxx} ${_lexoria_host_flags} -o "${LEXORIA_PACKAGE_TOOL}"
            ${_lexoria_package_sources}
    DEPENDS ${_lexoria_package_sources}
    COMMENT "Building make_sample_package for the build machine"
    VERBATIM)
  add_custom_target(lexoria_host_tools DEPENDS "${LEXORIA_STAMP_TOOL}" "${LEXORIA_PACKAGE_TOOL}")

  # The file for rebuilds when the tool changes, the target so that it is
  # built first even by generators that cannot see another target's outputs.
  set(_lexoria_package_tool_depends "${LEXORIA_PACKAGE_TOOL}" lexoria_host_tools)
endif()

function(lexoria_stamp_checksum target)
  cmake_parse_arguments(ARG "PAGE_ALIGN_RESOURCES" "TIME_STAMP" "" ${ARGN})
  set(stamp_options)
  if(DEFINED ARG_TIME_STAMP)
    set(stamp_options --time-stamp ${ARG_TIME_STAMP})
  endif()
  if(ARG_PAGE_ALIGN_RESOURCES)
    list(PREPEND stamp_options --page-align-resources)
  endif()
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
    message(FATAL_ERROR "lexoria_stamp_checksum(${target}): only Windows (PE) targets carry "
                        "a PE checksum; this build makes ${CMAKE_SYSTEM_NAME} programs")
  endif()
  add_dependencies(${target} lexoria_host_tools)
  add_custom_command(
    TARGET ${target}
    POST_BUILD
    COMMAND ${LEXORIA_STAMP_TOOL} ${stamp_options} "$<TARGET_FILE:${target}>"
    COMMENT "Stamping the PE checksum of ${target}"
    VERBATIM)
endfunction()

function(lexoria_sample_package out_var path size version)
  if(NOT size MATCHES "^[0-9]+$" OR NOT version MATCHES "^[0-9]+$")
    message(FATAL_ERROR "lexoria_sample_package: size '${size}' and version '${version}' "
                        "must be decimal numbers")
  endif()
  get_filename_component(_absolute "${path}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  get_filename_component(_directory "${_absolute}" DIRECTORY)
  add_custom_command(
    OUTPUT "${_absolute}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${_directory}"
    COMMAND ${LEXORIA_PACKAGE_TOOL} "${_absolute}" ${size} ${version}
    DEPENDS ${_lexoria_package_tool_depends}
    COMMENT "Generating sample package ${_absolute} (${size} bytes, version ${version})"
    VERBATIM)
  set(${out_var} "${_absolute}" PARENT_SCOPE)
endfunction()
