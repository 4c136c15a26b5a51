# Checks the finished installer's resources as `orlo-pack inspect` reports
# them, and the pictures the build painted.
#
#   cmake -DPART=table|version|manifest -DORLO_PACK_EXE=... -DINSTALLER=...
#         [-DPACKAGE=...] -P check_resources.cmake
#   cmake -DPART=pictures -DORLO_GEN_ASSETS_EXE=... -DICON=... -DBITMAP=...
#         -DWORK_DIR=... -P check_resources.cmake
#
# Every mismatch is listed before the script fails.

set(problems "")
macro(problem text)
  string(APPEND problems "  ${text}\n")
endmacro()

# The inspect report as a list of lines (a ";" in a line is kept as "<semicolon>").
function(inspect_lines out)
  execute_process(COMMAND ${ORLO_PACK_EXE} inspect ${INSTALLER}
    OUTPUT_VARIABLE report ERROR_VARIABLE errors RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "orlo-pack inspect ${INSTALLER} failed (${status}): ${errors}")
  endif()
  string(REPLACE ";" "<semicolon>" report "${report}")
  string(REGEX REPLACE "\n$" "" report "${report}")
  string(REPLACE "\n" ";" report "${report}")
  set(${out} "${report}" PARENT_SCOPE)
endfunction()

# The lines that start with prefix.
function(lines_starting out lines prefix)
  set(found "")
  string(LENGTH "${prefix}" length)
  foreach(line IN LISTS lines)
    string(SUBSTRING "${line}" 0 ${length} head)
    if(head STREQUAL prefix)
      list(APPEND found "${line}")
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# Compares the caller's lines that start with prefix with the expected
# ones (the further arguments), in order.
function(expect_lines prefix)
  lines_starting(got "${lines}" "${prefix}")
  if(NOT got STREQUAL ARGN)
    string(REPLACE ";" "\n    " got_text "${got}")
    string(REPLACE ";" "\n    " wanted_text "${ARGN}")
    string(APPEND problems "  lines starting '${prefix}':\n    got:\n    ${got_text}\n    expected:\n    ${wanted_text}\n")
    set(problems "${problems}" PARENT_SCOPE)
  endif()
endfunction()

if(PART STREQUAL "table")
  # Every resource of the executable: type, id, language, size, and what
  # the pictures' headers declare.
  inspect_lines(lines)
  lines_starting(resources "${lines}" "resource ")
  set(keys "")
  foreach(line IN LISTS resources)
    if(NOT line MATCHES "^resource (RT_[A-Z_]+|type [0-9]+) +([0-9]+)  language +([0-9]+)  size +([0-9]+)(  (.*))?$")
      problem("unreadable resource line: ${line}")
      continue()
    endif()
    set(key "${CMAKE_MATCH_1}/${CMAKE_MATCH_2}")
    list(APPEND keys "${key}")
    set(language_${key} "${CMAKE_MATCH_3}")
    set(size_${key} "${CMAKE_MATCH_4}")
    set(detail_${key} "${CMAKE_MATCH_6}")
    if(NOT CMAKE_MATCH_3 EQUAL 1033)
      problem("${key} is in language ${CMAKE_MATCH_3}, not 1033")
    endif()
  endforeach()

  set(expected RT_BITMAP/101 RT_GROUP_ICON/100 RT_ICON/1 RT_ICON/2 RT_MANIFEST/1 RT_RCDATA/100 RT_VERSION/1)
  list(SORT keys)
  if(NOT keys STREQUAL expected)
    problem("resources are [${keys}], expected exactly [${expected}]")
  endif()

  if(NOT detail_RT_BITMAP/101 STREQUAL "bitmap 900x424, 24 bpp, BI_RGB, bottom-up")
    problem("bitmap 101 is '${detail_RT_BITMAP/101}', expected 900x424, 24 bpp, uncompressed, bottom-up")
  endif()

  # Group 100 lists two images, 16x16 and 32x32 at 4 bits per pixel, and
  # each listed RT_ICON's own header says the same.
  set(images "")
  string(REGEX MATCHALL "#[0-9]+ [0-9]+x[0-9]+ [0-9]+ bpp" entries "${detail_RT_GROUP_ICON/100}")
  foreach(entry IN LISTS entries)
    string(REGEX MATCH "^#([0-9]+) ([0-9]+x[0-9]+) ([0-9]+) bpp$" ignored "${entry}")
    list(APPEND images "${CMAKE_MATCH_2}/${CMAKE_MATCH_3}")
    set(image "icon image ${CMAKE_MATCH_2}, ${CMAKE_MATCH_3} bpp")
    if(NOT detail_RT_ICON/${CMAKE_MATCH_1} STREQUAL image)
      problem("group entry '${entry}' but RT_ICON ${CMAKE_MATCH_1} is '${detail_RT_ICON/${CMAKE_MATCH_1}}'")
    endif()
  endforeach()
  list(SORT images)
  if(NOT images STREQUAL "16x16/4;32x32/4")
    problem("icon group 100 is '${detail_RT_GROUP_ICON/100}', expected 16x16 and 32x32 at 4 bpp")
  endif()

  # The package resource is the package the build made, whole.
  file(SIZE ${PACKAGE} package_size)
  if(NOT size_RT_RCDATA/100 EQUAL package_size)
    problem("RT_RCDATA 100 holds ${size_RT_RCDATA/100} bytes, the package has ${package_size}")
  endif()

elseif(PART STREQUAL "version")
  inspect_lines(lines)
  expect_lines("version: "
    "version: file 1.0.0.1, product 1.0.0.1, flags mask 0x3f, flags 0x0, os 0x0, type 0x1, subtype 0x0")
  expect_lines("version strings " "version strings 000004b0:")
  lines_starting(copyright "${lines}" "  LegalCopyright = ")
  list(LENGTH copyright copyright_lines)
  if(NOT copyright_lines EQUAL 1 OR NOT copyright MATCHES "^  LegalCopyright = \".+\"$")
    problem("LegalCopyright is missing or empty: '${copyright}'")
  endif()
  list(FILTER lines EXCLUDE REGEX "^  LegalCopyright = ")
  expect_lines("  "
    "  Comments = \"FENMARCH Orlo-Cast Installer.\""
    "  CompanyName = \"FENMARCH Software\""
    "  FileDescription = \"FENMARCH Orlo-Cast Installer\""
    "  FileVersion = \"1, 0, 0, 1\""
    "  InternalName = \"OrloCastSetup\""
    "  OriginalFilename = \"OrloCastSetup.exe\""
    "  ProductName = \"OrloCastSetup\""
    "  ProductVersion = \"1, 0, 0, 1\"")
  expect_lines("version translation: " "version translation: language 0x0000, code page 0x04b0")

elseif(PART STREQUAL "manifest")
  inspect_lines(lines)
  expect_lines("manifest requestedExecutionLevel: " "manifest requestedExecutionLevel: requireAdministrator")
  expect_lines("manifest supportedOS: "
    "manifest supportedOS: {e2011457-1546-43c5-a5fe-008deee3d3f0}"
    "manifest supportedOS: {35138b9a-5d96-4fbd-8e2d-a2440225f93a}")
  expect_lines("manifest description: " "manifest description: \"Fenmarch OrloCast Installer\"")
  lines_starting(identity "${lines}" "manifest assemblyIdentity: ")
  string(REGEX MATCHALL " [A-Za-z]+=\"[^\"]*\"" attributes "${identity}")
  list(SORT attributes)
  set(expected " name=\"Fenmarch.OrloCast.Installer\"" " processorArchitecture=\"X86\"" " type=\"win32\""
               " version=\"1.0.0.0\"")
  if(NOT attributes STREQUAL expected)
    problem("assemblyIdentity is '${identity}'")
  endif()

elseif(PART STREQUAL "pictures")
  # Painting again gives the same bytes as the build's copies.
  file(REMOVE_RECURSE ${WORK_DIR})
  file(MAKE_DIRECTORY ${WORK_DIR})
  execute_process(COMMAND ${ORLO_GEN_ASSETS_EXE} ${WORK_DIR}/again.ico ${WORK_DIR}/again.bmp RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "orlo-gen-assets failed (${status})")
  endif()
  foreach(pair "${ICON}|again.ico" "${BITMAP}|again.bmp")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 built)
    list(GET pair 1 again)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${built} ${WORK_DIR}/${again} RESULT_VARIABLE differ)
    if(differ)
      problem("${built} differs from a second painting")
    endif()
  endforeach()

  # The window draws its operating-system line in grey (100, 100, 100),
  # bold Arial with a 16-pixel cell, from (15, 10). Under the longest text
  # (about 100 pixels) and a margin, every pixel keeps a luma of at least
  # 225, which holds the grey text near a 4.5 : 1 contrast.
  file(READ ${BITMAP} header LIMIT 54 HEX)
  string(SUBSTRING "${header}" 36 8 width_hex)  # biWidth, little-endian
  if(NOT width_hex STREQUAL "84030000")
    message(FATAL_ERROR "${BITMAP} is not 900 pixels wide")
  endif()
  set(darkest 255)
  foreach(y RANGE 10 25)
    math(EXPR offset "54 + (423 - ${y}) * 2700 + 15 * 3")
    file(READ ${BITMAP} row OFFSET ${offset} LIMIT 480 HEX)
    foreach(x RANGE 0 159)
      math(EXPR at "${x} * 6")
      string(SUBSTRING "${row}" ${at} 6 bgr)
      string(SUBSTRING "${bgr}" 0 2 b)
      string(SUBSTRING "${bgr}" 2 2 g)
      string(SUBSTRING "${bgr}" 4 2 r)
      math(EXPR luma "(299 * 0x${r} + 587 * 0x${g} + 114 * 0x${b}) / 1000")
      if(luma LESS darkest)
        set(darkest ${luma})
        math(EXPR darkest_x "15 + ${x}")
        set(darkest_y ${y})
      endif()
    endforeach()
  endforeach()
  if(darkest LESS 225)
    problem("pixel (${darkest_x}, ${darkest_y}) under the operating-system line has luma ${darkest}, below 225")
  endif()

else()
  message(FATAL_ERROR "PART must be table, version, manifest or pictures")
endif()

if(problems)
  message(FATAL_ERROR "The installer's resources are not as required:\n${problems}")
endif()
