#pragma once

#include <string>
#include <string_view>

// Where the plug-in's messages go: error message boxes on Windows, standard error elsewhere.
namespace tessara::plugin {

// One error box with the caption; without a window system, a "caption: text" line on standard
// error.
void show_error_box(std::string_view caption, std::string_view text);
// The system's text for an error code of this platform (errno, or a Windows error code), or
// "Unknown error".
std::string system_text(int code);

}  // namespace tessara::plugin
