#include <windows.h>

#include <string>

#include "plugin/message_box.h"

namespace tessara::plugin {

void show_error_box(std::string_view caption, std::string_view text) {
    const std::string c(caption);
    const std::string t(text);
    // Also to the debugger's log, where a box nobody sees (no desktop) can still be read.
    ::OutputDebugStringA((c + ": " + t + "\n").c_str());
    ::MessageBoxA(nullptr, t.c_str(), c.c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

std::string system_text(int code) {
    if (code == 0) {
        return "Unknown error";
    }
    char* buffer = nullptr;
    const DWORD size = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = size > 0 && buffer != nullptr ? std::string(buffer, size) : std::string();
    if (buffer != nullptr) {
        ::LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text.empty() ? "Unknown error" : text;
}

}  // namespace tessara::plugin
