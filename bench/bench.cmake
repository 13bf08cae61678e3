# The benchmark programs. Included by the top-level CMakeLists.txt in the
# win32 and win64 builds and in the host build. Every target here is
# EXCLUDE_FROM_ALL: an ordinary build leaves them out. scripts/test.sh builds
# bench_tools (win32, win64) and checksum_bench (host), so that a change to
# the port or the core that breaks them fails the tests. bench/run.sh builds
# them itself and prints the figures; no figure fails anything.

if(CMAKE_CROSSCOMPILING)
  if(NOT TARGET lexoria-update OR NOT lexoria_package)
    return()
  endif()

  set(LEXORIA_BENCH_DIR "${CMAKE_BINARY_DIR}/bench")

  function(_lexoria_bench_program target)
    add_executable(${target} EXCLUDE_FROM_ALL ${ARGN})
    set_target_properties(${target} PROPERTIES
      RUNTIME_OUTPUT_DIRECTORY "${LEXORIA_BENCH_DIR}/$<0:>"
      CXX_STANDARD 20
      CXX_STANDARD_REQUIRED ON
      CXX_EXTENSIONS OFF)
    target_compile_options(${target} PRIVATE -O2)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endfunction()

  # The floor: the same package under the same resource name, written out
  # with nothing else around it.
  set(LEXORIA_BENCH_PACKAGE "${lexoria_package}")
  set(_bench_floor_rc "${LEXORIA_BENCH_DIR}/bench_floor.rc")
  configure_file("${CMAKE_CURRENT_LIST_DIR}/floor.rc.in" "${_bench_floor_rc}" @ONLY)
  set_source_files_properties("${_bench_floor_rc}" PROPERTIES OBJECT_DEPENDS "${lexoria_package}")
  _lexoria_bench_program(bench_floor "${CMAKE_CURRENT_LIST_DIR}/floor.cc" "${_bench_floor_rc}")
  # Laid out as the setup is: the resource data on a page boundary of the file.
  lexoria_stamp_checksum(bench_floor PAGE_ALIGN_RESOURCES)

  # The setup's own steps, timed one by one in one process, carrying the
  # same resource as the floor and the setup.
  _lexoria_bench_program(bench_steps "${CMAKE_CURRENT_LIST_DIR}/steps.cc" "${_bench_floor_rc}")
  target_link_libraries(bench_steps PRIVATE lexoria_win32)
  lexoria_stamp_checksum(bench_steps PAGE_ALIGN_RESOURCES)

  _lexoria_bench_program(bench_launch "${CMAKE_CURRENT_LIST_DIR}/launch.cc")
  target_link_libraries(bench_launch PRIVATE psapi)

  _lexoria_bench_program(bench_checksum "${CMAKE_CURRENT_LIST_DIR}/checksum_speed.cc")
  target_link_libraries(bench_checksum PRIVATE lexoria_win32)

  _lexoria_bench_program(bench_size_walk "${CMAKE_CURRENT_LIST_DIR}/size_walk.cc")
  target_link_libraries(bench_size_walk PRIVATE lexoria_win32)

  # Keeps Wine's desktop up while the programs are timed, as Windows always has one.
  _lexoria_bench_program(bench_desktop "${CMAKE_CURRENT_LIST_DIR}/desktop.cc")
  target_link_options(bench_desktop PRIVATE -mwindows)

  add_custom_target(bench_tools)
  add_dependencies(bench_tools bench_floor bench_steps bench_launch bench_checksum
                   bench_size_walk bench_desktop lexoria-update)
else()
  # Host: the Google Benchmark of the checksum calculator. It compiles the
  # calculator itself, optimised and without the sanitizers that the host
  # preset puts on lexoria_core, so that the figure is that of the code the
  # setup runs.
  find_package(benchmark QUIET)
  if(benchmark_FOUND AND EXISTS "${CMAKE_CURRENT_LIST_DIR}/checksum_bench.cc")
    add_executable(checksum_bench EXCLUDE_FROM_ALL
      "${CMAKE_CURRENT_LIST_DIR}/checksum_bench.cc"
      "${LEXORIA_SOURCE_DIR}/src/install/pe_checksum.cc")
    target_include_directories(checksum_bench PRIVATE "${LEXORIA_SOURCE_DIR}/src")
    target_compile_options(checksum_bench PRIVATE -O2)
    target_link_libraries(checksum_bench PRIVATE benchmark::benchmark)
  endif()
endif()
