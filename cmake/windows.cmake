# Windows builds: the plug-in DLL (the product in the 32-bit build) and, in the
# x86-64 build, the test program that loads it under wine64.
#
# The DLL has no C runtime start-up: DllMain is its entry point and the C
# library is used only for what the compiler may call on its own. Its imports
# are therefore system DLLs only.
# The DLL and the programs that load it sit side by side.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

add_library(roundcorner SHARED ${PLUGIN_SOURCES} plugin/dll_main.cpp plugin/exports.def)
set_target_properties(roundcorner PROPERTIES PREFIX "" OUTPUT_NAME roundcorner)
target_compile_options(roundcorner PRIVATE -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  set(DLL_ENTRY _DllMain@12)
else()
  set(DLL_ENTRY DllMain)
endif()
target_link_options(roundcorner PRIVATE -nostdlib -Wl,--entry,${DLL_ENTRY} -Wl,--enable-stdcall-fixup)
target_link_libraries(roundcorner PRIVATE kernel32 user32 msvcrt gcc)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "AMD64")
  add_subdirectory(tests/windows)
endif()
