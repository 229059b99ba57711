#include "base/preferences.h"

#include <cstdlib>
#include <fstream>

#include "base/text.h"

namespace tessara::base {

namespace {

std::string key_of(std::string_view section, std::string_view name) {
    std::string key(section);
    key += '/';
    key += name;
    return key;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// QSettings writes special characters of names as %XX; a backslash in a name may also appear
// doubled. Both are undone here.
std::string unescape_name(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hex_value(s[i + 1]) >= 0 &&
            hex_value(s[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(s[i + 1]) * 16 + hex_value(s[i + 2]));
            i += 2;
        } else if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

int Preferences::get_int(std::string_view section, std::string_view name, int default_value) const {
    auto text = get_string(section, name);
    if (!text) {
        return default_value;
    }
    auto value = parse_int_exact(utf8_to_utf16(*text));
    return value ? *value : default_value;
}

void Preferences::set_int(std::string_view section, std::string_view name, int value) {
    set_string(section, name, std::to_string(value));
}

std::string Preferences::get_string_or(std::string_view section, std::string_view name,
                                       std::string_view default_value) const {
    auto text = get_string(section, name);
    return text ? *text : std::string(default_value);
}

std::optional<std::string> MemoryPreferences::get_string(std::string_view section,
                                                         std::string_view name) const {
    auto it = m_values.find(key_of(section, name));
    if (it == m_values.end()) {
        return std::nullopt;
    }
    return it->second;
}

void MemoryPreferences::set_string(std::string_view section, std::string_view name,
                                   std::string_view value) {
    m_values[key_of(section, name)] = std::string(value);
}

IniFilePreferences::IniFilePreferences(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::string section = "General";
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::string_view v = trim_ascii(line);
        if (v.empty() || v.front() == ';' || v.front() == '#') {
            continue;
        }
        if (v.front() == '[' && v.back() == ']') {
            section = unescape_name(v.substr(1, v.size() - 2));
            continue;
        }
        auto eq = v.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        std::string_view value = trim_ascii(v.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        set_string(section, unescape_name(trim_ascii(v.substr(0, eq))), value);
    }
}

std::string IniFilePreferences::default_path() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg != nullptr && *xdg != '\0') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : ".") + "/.config";
    }
    return base + "/Orvane/Tessara.conf";
}

}  // namespace tessara::base
