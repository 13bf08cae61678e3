# Probes of the end-to-end tests: small Windows programs built from the
# product's own code, run under Wine by tests/e2e/test_*.py.
#
# Included by the win64 build (x86_64 cross build) only; it may use the
# targets lexoria_win32 and lexoria_core. Each probe lands in
# ${CMAKE_BINARY_DIR}/e2e-helpers/ beside the helpers. Teammates append their
# own probes below; keep each block self-contained.

if(NOT CMAKE_CROSSCOMPILING OR NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(AMD64|x86_64)$")
  return()
endif()

set(LEXORIA_PROBE_DIR "${CMAKE_BINARY_DIR}/e2e-helpers")

# version_probe.exe: ReadExeFileVersion through the real VersionApi.
add_executable(e2e_version_probe "${CMAKE_CURRENT_LIST_DIR}/version_probe.cc")
target_link_libraries(e2e_version_probe PRIVATE lexoria_win32 shell32)
set_target_properties(e2e_version_probe PROPERTIES
  OUTPUT_NAME "version_probe"
  RUNTIME_OUTPUT_DIRECTORY "${LEXORIA_PROBE_DIR}/$<0:>")
target_link_options(e2e_version_probe PRIVATE -static -static-libgcc -static-libstdc++)

if(TARGET e2e_helpers)
  add_dependencies(e2e_helpers e2e_version_probe)
endif()

# windows_probe.exe: the start-up settings and the Windows identification
# with the real adapters (edition text, Is64BitWindows, RussianUi,
# FirstArgument), and SharedRegistry writes and reads. A console program, so
# the tests read its report from standard output.
add_executable(e2e_windows_probe "${CMAKE_CURRENT_LIST_DIR}/windows_probe.cc")
target_link_libraries(e2e_windows_probe PRIVATE lexoria_win32 comctl32)
set_target_properties(e2e_windows_probe PROPERTIES
  OUTPUT_NAME "windows_probe"
  RUNTIME_OUTPUT_DIRECTORY "${LEXORIA_PROBE_DIR}/$<0:>")
target_link_options(e2e_windows_probe PRIVATE -static -static-libgcc -static-libstdc++)
if(TARGET e2e_helpers)
  add_dependencies(e2e_helpers e2e_windows_probe)
endif()
