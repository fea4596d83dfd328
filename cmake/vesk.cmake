# Build helpers shared by every folder.

set(VESK_WIN OFF)
if(VESK_TARGET STREQUAL "win32" OR VESK_TARGET STREQUAL "win64")
  set(VESK_WIN ON)
  # Static runtime: a DLL must not depend on files beside it.
  set(CMAKE_EXE_LINKER_FLAGS "${CMAKE_EXE_LINKER_FLAGS} -static -static-libgcc -static-libstdc++")
  set(CMAKE_SHARED_LINKER_FLAGS "${CMAKE_SHARED_LINKER_FLAGS} -static -static-libgcc -static-libstdc++")
  configure_file(${CMAKE_SOURCE_DIR}/scripts/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
  set(VESK_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
  add_compile_definitions(WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX)
endif()

# The host tree builds everything under AddressSanitizer and UndefinedBehaviorSanitizer: the
# portable code is tested there natively, and the test tools are checked for free.
if(VESK_TARGET STREQUAL "host")
  option(VESK_SANITIZE "Build the host tree with ASan and UBSan" ON)
  if(VESK_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
  endif()
else()
  add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
endif()

macro(vesk_set_warnings)
  add_compile_options(-Wall -Wextra -Wno-unused-parameter)
  if(VESK_WERROR)
    add_compile_options(-Werror)
  endif()
endmacro()

# A Windows DLL with plain export names from its .def file.
#   vesk_dll(name DEF file.def SOURCES a.cpp ... LIBS x y)
function(vesk_dll name)
  cmake_parse_arguments(A "" "DEF" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${A_SOURCES} ${A_DEF} $<TARGET_OBJECTS:vesk_fx_dll>)
  set_target_properties(${name} PROPERTIES PREFIX "")
  target_link_options(${name} PRIVATE -Wl,--kill-at,--enable-stdcall-fixup)
  target_link_libraries(${name} PRIVATE ${A_LIBS} vesk_fx)
endfunction()

# A test program; runs in the Wine prefix (Windows trees) or natively (host tree).
#   vesk_test(name SOURCES a.cpp ... LIBS x y [ENV k=v ...] [SIM] [RUN_SERIAL])
# SIM: the test runs beside a fresh printer simulator whose control address is in VESK_SIM.
function(vesk_test name)
  cmake_parse_arguments(A "SIM;RUN_SERIAL" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gmock)
  if(NOT TARGET vesk_test_main_obj)
    message(FATAL_ERROR "vesk_test needs tests/common")
  endif()
  target_link_libraries(${name} PRIVATE vesk_test_main_obj)
  if(A_SIM)
    add_test(NAME ${name} COMMAND ${VESK_HOST_BUILD}/tools/sim/vesk-sim-run
             ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set(env "VESK_TEST_BIN=${CMAKE_BINARY_DIR}" "WINEPREFIX=${VESK_WINEPREFIX}" "VESK_SOURCE=${CMAKE_SOURCE_DIR}")
  if(A_ENV)
    list(APPEND env ${A_ENV})
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}")
  if(A_RUN_SERIAL)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL ON)
  endif()
  if(A_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT})
  endif()
endfunction()

# The targets a group of tests needs: one missing is a configure error, not a group of tests
# that quietly is not there.
function(vesk_require_targets what)
  foreach(t ${ARGN})
    if(NOT TARGET ${t})
      message(FATAL_ERROR "${what} need the target ${t}, which this tree does not define")
    endif()
  endforeach()
endfunction()

# Kept for targets that ask for it explicitly; the host tree sanitizes everything already.
function(vesk_sanitize name)
endfunction()
