# Windows configuration (cross-built with MinGW-w64): the installer, the
# stand-in product, and the Windows test executables that CTest runs under
# Wine.

set(ORLO_PACK_EXE "" CACHE FILEPATH "The host packaging tool")
set(ORLO_PACKAGE "" CACHE FILEPATH "Embed this package instead of one built from product/")
set(ORLO_WINE_ROOT ${CMAKE_BINARY_DIR}/wine CACHE PATH "Where the test prefixes live")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${ORLO_WINE_ROOT})

# Windows 2000 loads only images that declare subsystem and OS version 5.0 or lower.
set(ORLO_WIN2000_LINK_FLAGS
  -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,0
  -Wl,--major-os-version,5 -Wl,--minor-os-version,0)
# No libgcc or libstdc++ DLLs beside the installer: nothing but system DLLs.
set(ORLO_STATIC_RUNTIME -static-libgcc -static-libstdc++ -static)
add_compile_definitions(WINVER=0x0500 _WIN32_WINNT=0x0500 _WIN32_IE=0x0500)
# Reproducible output: no link-time stamp in the PE header, and no build
# folder in the object code.
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>"
                    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=build/>")

add_library(orlo_pure STATIC ${ORLO_PURE_SOURCES})
target_include_directories(orlo_pure PUBLIC ${CMAKE_SOURCE_DIR})
# Installer code: small (-Oz, GCC's smallest; the digest and descrambling
# loops run as fast as with -Os), no unwind tables (there are no exceptions
# to unwind), and no -fdata-sections, with which MinGW places zero-filled
# records such as the installer state in .data instead of .bss, costing
# their full size in the file.
# Call arguments are pushed (a push is 1 to 5 bytes, the default store to
# [esp+n] 4 to 8), which GCC allows only without its stack-probe call; the
# probe comes back inline: a frame of a page or more touches its pages one
# after the other from the top, as the stack's guard page needs
# (-fstack-clash-protection). Smaller frames are not probed, as before: the
# call into them touched the page above.
# No frame pointer, and the stack kept at the 4-byte alignment that 32-bit
# Windows gives (GCC otherwise pads every call's arguments to 16 bytes);
# locals that need more are aligned by the function that holds them.
# Link-time optimisation: the installer is optimised as one program at its
# link (functions used once are inlined, local ones take their arguments in
# registers). The objects carry machine code too, which the Windows tests,
# linked without it, use.
set(ORLO_SIZE_FLAGS -Oz -ffunction-sections -fno-asynchronous-unwind-tables -fno-ident
    -mno-accumulate-outgoing-args -mno-stack-arg-probe -fstack-clash-protection -flto -ffat-lto-objects
    -fomit-frame-pointer -mpreferred-stack-boundary=2)
target_compile_options(orlo_pure PRIVATE ${ORLO_STRICT_FLAGS} ${ORLO_SIZE_FLAGS})

# Win32 layer of every subsystem.
# Every other source of the subsystem folders is Win32 code; app/main.cpp
# and app/runtime.cpp are the installer's entry and belong to the executable
# alone.
file(GLOB ORLO_WIN32_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/*.cpp ${CMAKE_SOURCE_DIR}/package/*.cpp
  ${CMAKE_SOURCE_DIR}/setup/*.cpp ${CMAKE_SOURCE_DIR}/platform/*.cpp)
foreach(pure ${ORLO_PURE_SOURCES} app/main.cpp app/runtime.cpp)
  list(REMOVE_ITEM ORLO_WIN32_SOURCES ${CMAKE_SOURCE_DIR}/${pure})
endforeach()
add_library(orlo_win32 STATIC ${ORLO_WIN32_SOURCES})

# The web links, scrambled at build time by the host tool orlo-links (built
# beside orlo-pack), so that their plain text never enters the sources'
# object code.
get_filename_component(ORLO_HOST_TOOLS ${ORLO_PACK_EXE} DIRECTORY)
set(ORLO_PICTURE_LINK "http://www.fenmarch.example" CACHE STRING "Opened by a click on the picture")
set(ORLO_COMPLETION_LINK "https://www.fenmarch.example/orlo-cast/thank-you?from=setup"
    CACHE STRING "Opened after a successful interactive install")
set(ORLO_LINKS_HEADER ${CMAKE_BINARY_DIR}/generated/links.generated.h)
add_custom_command(OUTPUT ${ORLO_LINKS_HEADER}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND ${ORLO_HOST_TOOLS}/orlo-links -o ${ORLO_LINKS_HEADER}
          pictureLink=${ORLO_PICTURE_LINK} completionLink=${ORLO_COMPLETION_LINK}
  DEPENDS ${ORLO_HOST_TOOLS}/orlo-links
  COMMENT "Scrambling the stored web links")
target_sources(orlo_win32 PRIVATE ${ORLO_LINKS_HEADER})
target_include_directories(orlo_win32 PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_include_directories(orlo_win32 PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(orlo_win32 PRIVATE ${ORLO_STRICT_FLAGS} ${ORLO_SIZE_FLAGS})
target_link_libraries(orlo_win32 PUBLIC orlo_pure uuid gdi32 user32 ntdll)

# The installer's version: four numbers of 0 to 65535, in the version
# block (fixed and string parts) and in the window title's text.
set(ORLO_VERSION "1.0.0.1" CACHE STRING "The installer's version, A.B.C.D")
set(number "(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?)")
if(NOT ORLO_VERSION MATCHES "^${number}\\.${number}\\.${number}\\.${number}$" OR CMAKE_MATCH_1 GREATER 65535
   OR CMAKE_MATCH_2 GREATER 65535 OR CMAKE_MATCH_3 GREATER 65535 OR CMAKE_MATCH_4 GREATER 65535)
  message(FATAL_ERROR "ORLO_VERSION '${ORLO_VERSION}' is not four numbers A.B.C.D, each 0 to 65535")
endif()
string(REPLACE "." ", " ORLO_VERSION_COMMAS "${ORLO_VERSION}")

add_subdirectory(product)
add_subdirectory(resources)
add_subdirectory(app)
set_property(SOURCE app/main.cpp DIRECTORY app APPEND PROPERTY COMPILE_DEFINITIONS ORLO_VERSION_TEXT="${ORLO_VERSION}")
add_subdirectory(tests/windows)
