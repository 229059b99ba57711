#include "link/loopback.h"

#include <charconv>

namespace tessara::link {

namespace {

bool is_secret(std::string_view text) {
    if (text.size() != kSecretSize) {
        return false;
    }
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string format_loopback_file(const LoopbackAddress& address) {
    return std::to_string(address.port) + ' ' + address.secret + '\n';
}

std::optional<LoopbackAddress> parse_loopback_file(std::string_view text) {
    const size_t space = text.find(' ');
    if (space == std::string_view::npos || space == 0 ||
        text.size() != space + 1 + kSecretSize + 1 || text.back() != '\n') {
        return std::nullopt;
    }
    unsigned port = 0;
    const auto digits = text.substr(0, space);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (ec != std::errc() || end != digits.data() + digits.size() || port == 0 || port > 65535) {
        return std::nullopt;
    }
    const auto secret = text.substr(space + 1, kSecretSize);
    if (!is_secret(secret)) {
        return std::nullopt;
    }
    return LoopbackAddress{static_cast<uint16_t>(port), std::string(secret)};
}

bool same_secret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char differ = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return differ == 0;
}

}  // namespace tessara::link
