# The Qt-free core and its unit tests, alone: the raster model, the BMP writer
# and the file output, the spin field's value rules, the spray's generator,
# the link-highlight state machine and the error texts. This is what the
# Windows cross build (cmake/mingw-w64-x86_64.cmake) compiles and runs under
# Wine. The sources are the ones each folder's own CMakeLists.txt builds into
# its plain C++ library; the windows, the platform layer and the JPEG logo
# are left out.

if(CMAKE_CROSSCOMPILING)
  # GoogleTest from Debian's sources (libgtest-dev), compiled with the same
  # toolchain as the tests.
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(SKARVEL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
  add_subdirectory(${SKARVEL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()

enable_testing()
include(GoogleTest)
set(SKARVEL_TESTS ON)

# The same helpers as the full build's (the layer check runs there).
function(skarvel_library target)
  add_library(${target} STATIC ${ARGN})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
endfunction()

# Discovery lists the cases of each test program once, when ctest first runs
# it (under Wine that costs a start of the program, not a build step).
function(skarvel_unit_tests target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE GTest::gtest_main)
  gtest_discover_tests(${target} PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60 DISCOVERY_MODE PRE_TEST)
  set_property(GLOBAL APPEND PROPERTY SKARVEL_UNIT_TEST_TARGETS ${target})
endfunction()

add_subdirectory(canvas)

set(src ${CMAKE_SOURCE_DIR})

skarvel_library(skarvel_saving ${src}/saving/bmp_file.cpp ${src}/saving/bmp_writer.cpp
  ${src}/saving/byte_output.cpp ${src}/saving/save_rules.cpp)
target_link_libraries(skarvel_saving PUBLIC skarvel_canvas)
skarvel_unit_tests(saving_tests ${src}/saving/tests/bmp_writer_test.cpp
  ${src}/saving/tests/bmp_file_test.cpp ${src}/saving/tests/save_rules_test.cpp)
target_link_libraries(saving_tests PRIVATE skarvel_saving)

skarvel_library(skarvel_palitra_core ${src}/Palitra/spin_value.cpp)
skarvel_unit_tests(palitra_tests ${src}/Palitra/tests/spin_value_test.cpp)
target_link_libraries(palitra_tests PRIVATE skarvel_palitra_core)

skarvel_library(skarvel_surface_core ${src}/SkarvelKod/random_below.cpp)
skarvel_unit_tests(surface_tests ${src}/SkarvelKod/tests/random_below_test.cpp)
target_link_libraries(surface_tests PRIVATE skarvel_surface_core)

skarvel_library(skarvel_about_core ${src}/About/link_highlight.cpp)
skarvel_unit_tests(about_tests ${src}/About/tests/link_highlight_test.cpp ${src}/About/tests/main_icon_test.cpp)
target_link_libraries(about_tests PRIVATE skarvel_about_core)
target_compile_definitions(about_tests PRIVATE SKARVEL_ASSETS_DIR="${src}/assets")

skarvel_library(skarvel_shell_core ${src}/shell/error_text.cpp)
skarvel_unit_tests(shell_tests ${src}/shell/tests/error_text_test.cpp)
target_link_libraries(shell_tests PRIVATE skarvel_shell_core)

get_property(unit_test_targets GLOBAL PROPERTY SKARVEL_UNIT_TEST_TARGETS)
add_custom_target(unit_tests DEPENDS ${unit_test_targets})
