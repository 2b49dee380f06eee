# Windows builds: the plug-in DLL (the product in the 32-bit build) and, in the
# x86-64 build, the test program that loads it under wine64.
#
# The DLL has no C runtime start-up: DllMain is its entry point and the C
# library is used only for what the compiler may call on its own. Its imports
# are therefore system DLLs only.
# The DLL and the programs that load it sit side by side.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

enable_language(RC)

# comctl32 by ordinal: MinGW's import library would import these by name.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  set(COMCTL32_DEF ${CMAKE_SOURCE_DIR}/options/comctl32-i686.def)
else()
  set(COMCTL32_DEF ${CMAKE_SOURCE_DIR}/options/comctl32-x86_64.def)
endif()
set(COMCTL32_IMPORTS ${CMAKE_BINARY_DIR}/lib/libcomctl32_ordinals.a)
add_custom_command(OUTPUT ${COMCTL32_IMPORTS}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/lib
  COMMAND ${CMAKE_DLLTOOL} -d ${COMCTL32_DEF} -l ${COMCTL32_IMPORTS}
  DEPENDS ${COMCTL32_DEF}
  COMMENT "comctl32 import library by ordinal")
add_custom_target(comctl32_ordinals DEPENDS ${COMCTL32_IMPORTS})

# The options dialog and its template exist only here: the native build has
# no windowing.
add_library(roundcorner SHARED ${PLUGIN_SOURCES} plugin/dll_main.cpp plugin/exports.def
  options/options.cpp resources/roundcorner.rc)
set_target_properties(roundcorner PROPERTIES PREFIX "" OUTPUT_NAME roundcorner)
target_compile_options(roundcorner PRIVATE -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  set(DLL_ENTRY _DllMain@12)
else()
  set(DLL_ENTRY DllMain)
endif()
target_link_options(roundcorner PRIVATE -nostdlib -Wl,--entry,${DLL_ENTRY} -Wl,--enable-stdcall-fixup)
add_dependencies(roundcorner comctl32_ordinals)
target_link_libraries(roundcorner PRIVATE ${COMCTL32_IMPORTS} kernel32 user32 gdi32 comdlg32 msvcrt gcc)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "AMD64")
  add_subdirectory(tests/windows)
endif()
