# Native configuration: the pure code, its tests, benchmarks and fuzz
# targets, the host tools, and the Windows configuration as a sub-build.

option(ORLO_SANITIZE "Build native tests with AddressSanitizer and UBSan" ON)
option(ORLO_WITH_WINDOWS "Also cross-build the installer and its Windows tests" ON)
option(ORLO_BENCHMARKS "Build the benchmarks" ON)
set(ORLO_PACKAGE "" CACHE FILEPATH "Embed this package instead of one built from product/")
set(ORLO_VERSION "1.0.0.1" CACHE STRING "The installer's version, A.B.C.D (each 0 to 65535)")

if(ORLO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

add_library(orlo_pure STATIC ${ORLO_PURE_SOURCES})
target_include_directories(orlo_pure PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(orlo_pure PRIVATE ${ORLO_STRICT_FLAGS})

add_subdirectory(tools)

find_package(GTest REQUIRED)
find_package(OpenSSL REQUIRED)
include(GoogleTest)
add_subdirectory(tests/native)

# Hardening checks: the package fuzzer's short run (when clang has
# libFuzzer), and no unbounded string function in the installer's sources.
add_subdirectory(tests/fuzz)
add_test(NAME host.no_unbounded_string_functions COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-banned.sh ${CMAKE_SOURCE_DIR})
# The check itself finds each of the issue's functions in a planted source.
add_test(NAME host.check_banned_finds_each_function
  COMMAND sh -c "d=\"$1\"; rm -rf \"$d\"; mkdir -p \"$d/setup\"; for f in strcpy strcat sprintf vsprintf gets lstrcpyA lstrcatA wsprintfA lstrcpyW wvsprintfA StrCpyA _tcscpy; do printf 'void g(char* d) {\\n    %s(d, \"x\");\\n}\\n' \"$f\" > \"$d/setup/planted.cpp\"; if \"$0\" \"$d\" >/dev/null 2>&1; then echo \"not found: $f\"; exit 1; fi; done; printf 'void g() { textCopy(a, 4, \"x\"); } // strcpy(a, b)\\n' > \"$d/setup/planted.cpp\"; \"$0\" \"$d\""
          ${CMAKE_SOURCE_DIR}/scripts/check-banned.sh ${CMAKE_BINARY_DIR}/check-banned-probe)
# Includes run down the floors platform -> package -> setup -> app; the
# check notices one planted that runs back up.
add_test(NAME host.includes_run_down COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-layers.sh)
add_test(NAME host.check_layers_finds_an_include_back_up
  COMMAND sh -c "d=\"$1\"; rm -rf \"$d\"; mkdir -p \"$d/package\"; printf '#include \"app/main_window.h\"\\n' > \"$d/package/planted.cpp\"; ! \"$0\" \"$d\""
          ${CMAKE_SOURCE_DIR}/scripts/check-layers.sh ${CMAKE_BINARY_DIR}/check-layers-probe)
# Every C and C++ source is laid out as .clang-format says.
add_test(NAME host.sources_are_formatted COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-format.sh)
# README.md for a newcomer: a line on what the product is before its first command, the program spelled as the
# installer spells it, none of the words that only this code's developers know.
add_test(NAME host.readme_speaks_to_a_newcomer COMMAND bash -c [=[
  [ -n "$(sed -n '/^```/q;/^[A-Z]/p' "$0")" ] && ! grep -n 'Orlocast\.exe\|key chain\|scrambler\|chief header\|package order' "$0" ]=]
  ${CMAKE_SOURCE_DIR}/README.md)
# The seeded-fault run refuses a fault id its list does not hold before it builds or runs anything (its build tree
# here cannot even be created).
add_test(NAME host.seeded_faults_refuses_unknown_ids COMMAND bash -c [=[
  out=$("$0" --build /dev/null/seeded-faults --only inst-shortcut-readme no-such-fault 2>&1)
  if [ $? -eq 2 ] && [ "$out" = "seeded-faults: error: unknown fault id 'no-such-fault' (not in $1)" ]; then exit 0; fi
  echo "$out"; exit 1 ]=] ${CMAKE_SOURCE_DIR}/scripts/seeded-faults.sh ${CMAKE_SOURCE_DIR}/scripts/seeded-faults.txt)

if(ORLO_BENCHMARKS)
  add_subdirectory(bench)
endif()

if(ORLO_WITH_WINDOWS)
  include(ExternalProject)
  ExternalProject_Add(windows
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/windows
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.toolchain.cmake
      -DCMAKE_BUILD_TYPE=MinSizeRel
      -DORLO_PACK_EXE=$<TARGET_FILE:orlo-pack>
      -DORLO_GEN_ASSETS_EXE=$<TARGET_FILE:orlo-gen-assets>
      -DORLO_PACKAGE=${ORLO_PACKAGE}
      -DORLO_VERSION=${ORLO_VERSION}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    STEP_TARGETS configure
    DEPENDS orlo-pack orlo-links orlo-gen-assets
  )
  # One ctest in this tree also runs the Windows tree's tests.
  set(windows_include ${CMAKE_BINARY_DIR}/windows-tests.cmake)
  file(WRITE ${windows_include}
    "if(EXISTS \"${CMAKE_BINARY_DIR}/windows/CTestTestfile.cmake\")\n"
    "  subdirs(\"${CMAKE_BINARY_DIR}/windows\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${windows_include})
  # Release checks: reproducible builds, signing, the release command.
  add_subdirectory(tests/release)
endif()
