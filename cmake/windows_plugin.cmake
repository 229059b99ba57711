# The Windows build: the plug-in VDubTessara.vdf for the video tool, and the two programs its
# tests run under Wine (the stand-in host and the pipe's channel test). Nothing else of the
# project builds for Windows. Used through a mingw-w64 toolchain file (make plugin-windows).

add_library(tessara_warnings INTERFACE)
target_compile_options(tessara_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                                  -Wno-sign-conversion -Werror)
# Static C and C++ runtimes: the module needs no DLL beside it, only the system's own.
add_link_options(-static -static-libgcc -static-libstdc++)

add_library(tessara_base STATIC src/base/messages.cpp)
target_include_directories(tessara_base PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tessara_base PRIVATE tessara_warnings)

add_library(tessara_link_protocol STATIC src/link/protocol.cpp src/link/loopback.cpp
                                         src/link/transport_win.cpp)
target_include_directories(tessara_link_protocol PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tessara_link_protocol PUBLIC ws2_32 PRIVATE tessara_warnings)

add_library(tessara_plugin_core STATIC src/plugin/picture_cache.cpp
                                       src/plugin/preview_link_client.cpp)
target_link_libraries(tessara_plugin_core PUBLIC tessara_link_protocol tessara_base
                      PRIVATE tessara_warnings)

# Exports the three module entry points, undecorated (they are extern "C" and cdecl).
add_library(VDubTessara SHARED src/plugin/plugin_module.cpp src/plugin/message_box_win.cpp)
target_link_libraries(VDubTessara PRIVATE tessara_plugin_core tessara_warnings user32)
# A release module carries no symbol table.
target_link_options(VDubTessara PRIVATE $<$<CONFIG:Release>:-s>)
set_target_properties(VDubTessara PROPERTIES
  PREFIX ""
  SUFFIX ".vdf"
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})

# The stand-in host, loading the module with LoadLibrary; frames are written as PPM files.
add_executable(tessara-filter-host tests/plugin/filter_host_main.cpp tests/plugin/filter_host.cpp)
target_include_directories(tessara-filter-host PRIVATE ${PROJECT_SOURCE_DIR}/tests/plugin)
target_link_libraries(tessara-filter-host PRIVATE tessara_base tessara_warnings)
target_compile_definitions(tessara-filter-host PRIVATE TESSARA_PLUGIN_MODULE="VDubTessara.vdf")
set_target_properties(tessara-filter-host PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})

# The pipe channel's own tests: both ends in one process.
add_executable(pipe-channel-test tests/link/pipe_channel_test_main.cpp)
target_link_libraries(pipe-channel-test PRIVATE tessara_plugin_core tessara_warnings)
set_target_properties(pipe-channel-test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
