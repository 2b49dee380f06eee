# Native build: the portable parts over our own stand-ins for Win32, and the
# tests and tools that use them.
add_library(plugin_core STATIC ${PLUGIN_SOURCES} platform/platform.cpp)
target_include_directories(plugin_core PUBLIC ${CMAKE_SOURCE_DIR})

find_package(GTest REQUIRED)
include(GoogleTest)
add_subdirectory(tests/native)
add_subdirectory(bench)

add_subdirectory(host)
add_subdirectory(tests/host)

add_subdirectory(fuzz)
