#include <cstdio>

#include "base/messages.h"
#include "plugin/message_box.h"

namespace tessara::plugin {

void show_error_box(std::string_view caption, std::string_view text) {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
}

std::string system_text(int code) {
    return base::system_error_text(code);
}

}  // namespace tessara::plugin
