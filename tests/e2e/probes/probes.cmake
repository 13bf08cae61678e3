# Probes of the end-to-end tests: small Windows programs built from the
# product's own code, run under Wine by tests/e2e/test_*.py.
#
# Included by the win32 and win64 builds beside the helpers; it may use the
# targets lexoria_win32 and lexoria_core. Each probe lands in
# ${CMAKE_BINARY_DIR}/e2e-helpers/ beside the helpers. Teammates append their
# own probes below; keep each block self-contained.

if(NOT CMAKE_CROSSCOMPILING OR NOT LEXORIA_E2E_HELPERS)
  return()
endif()

set(LEXORIA_PROBE_DIR "${CMAKE_BINARY_DIR}/e2e-helpers")

# lexoria_add_probe(<name>): <name>.exe from <name>.cc, linked with the real
# adapter, static run-times, beside the helpers.
function(lexoria_add_probe name)
  add_executable(e2e_${name} "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}.cc")
  target_link_libraries(e2e_${name} PRIVATE lexoria_win32)
  set_target_properties(e2e_${name} PROPERTIES
    OUTPUT_NAME "${name}"
    RUNTIME_OUTPUT_DIRECTORY "${LEXORIA_PROBE_DIR}/$<0:>")
  target_link_options(e2e_${name} PRIVATE -static -static-libgcc -static-libstdc++)
  if(TARGET e2e_helpers)
    add_dependencies(e2e_helpers e2e_${name})
  endif()
endfunction()

# version_probe.exe: ReadExeFileVersion through the real VersionApi.
lexoria_add_probe(version_probe)

# windows_probe.exe: the start-up settings and the Windows identification
# with the real adapters (edition text, Is64BitWindows, RussianUi,
# FirstArgument), and SharedRegistry writes and reads. A console program, so
# the tests read its report from standard output.
lexoria_add_probe(windows_probe)

# contract_probe.exe: the rows of tests/contract/ (the file system's and the
# registry's contract) on the real adapter; the unit tests run them on the
# fakes.
lexoria_add_probe(contract_probe)
target_sources(e2e_contract_probe PRIVATE
  "${LEXORIA_SOURCE_DIR}/tests/contract/file_system_contract.cc")
target_include_directories(e2e_contract_probe PRIVATE "${LEXORIA_SOURCE_DIR}/tests")
