# Helper programs of the end-to-end tests, built by the win32 and win64
# builds: the i686 ones serve the deliverable's runs (a 32-bit Wine prefix
# runs no x86_64 program), the x86_64 ones the fallback where this machine's
# kernel runs no 32-bit programs.
#
# include(tests/e2e/e2e.cmake) from the top-level CMakeLists.txt. Every
# tests/e2e/helpers/NAME.cc becomes NAME.exe in ${CMAKE_BINARY_DIR}/e2e-helpers/
# (target e2e_NAME), linked statically so the prefix needs no mingw DLLs. A
# source that defines WinMain is a GUI program. The target e2e_helpers builds
# them all; tests/e2e/run_e2e.py expects them there.

if(NOT CMAKE_CROSSCOMPILING OR NOT LEXORIA_E2E_HELPERS)
  return()
endif()

set(LEXORIA_E2E_HELPER_DIR "${CMAKE_BINARY_DIR}/e2e-helpers")
file(GLOB _e2e_helper_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/helpers/*.cc")

set(_e2e_helper_targets)
foreach(_source IN LISTS _e2e_helper_sources)
  get_filename_component(_name "${_source}" NAME_WE)
  set(_target "e2e_${_name}")
  add_executable(${_target} "${_source}")
  # The $<0:> keeps multi-config generators from adding a per-config folder.
  set_target_properties(${_target} PROPERTIES
    OUTPUT_NAME "${_name}"
    RUNTIME_OUTPUT_DIRECTORY "${LEXORIA_E2E_HELPER_DIR}/$<0:>"
    CXX_STANDARD 20
    CXX_STANDARD_REQUIRED ON
    CXX_EXTENSIONS OFF)
  target_link_options(${_target} PRIVATE -static -static-libgcc -static-libstdc++)
  file(READ "${_source}" _text)
  if(_text MATCHES "WINAPI +w?WinMain")
    set_target_properties(${_target} PROPERTIES WIN32_EXECUTABLE ON)
  endif()
  if(_name STREQUAL "checksum_probe")
    target_link_libraries(${_target} PRIVATE imagehlp)
  endif()
  list(APPEND _e2e_helper_targets ${_target})
endforeach()

add_custom_target(e2e_helpers DEPENDS ${_e2e_helper_targets})
