#include "cli/json.h"

#include <cstdio>

#include "base/text.h"

namespace tessara::cli {

void JsonWriter::prefix(std::string_view key) {
    if (m_depth > 0) {
        m_out += m_first ? "\n" : ",\n";
        m_out.append(static_cast<size_t>(m_depth) * 2, ' ');
    }
    m_first = false;
    if (!key.empty()) {
        escape(m_out, key);
        m_out += ": ";
    }
}

void JsonWriter::begin_object(std::string_view key) {
    prefix(key);
    m_out += '{';
    ++m_depth;
    m_first = true;
}

void JsonWriter::end_object() {
    --m_depth;
    if (!m_first) {
        m_out += '\n';
        m_out.append(static_cast<size_t>(m_depth) * 2, ' ');
    }
    m_out += '}';
    m_first = false;
    if (m_depth == 0) {
        m_out += '\n';
    }
}

void JsonWriter::begin_array(std::string_view key) {
    prefix(key);
    m_out += '[';
    ++m_depth;
    m_first = true;
}

void JsonWriter::end_array() {
    --m_depth;
    if (!m_first) {
        m_out += '\n';
        m_out.append(static_cast<size_t>(m_depth) * 2, ' ');
    }
    m_out += ']';
    m_first = false;
}

void JsonWriter::value(std::string_view key, std::string_view text) {
    prefix(key);
    escape(m_out, text);
}

void JsonWriter::value(std::string_view key, std::u16string_view text) {
    value(key, std::string_view(base::utf16_to_utf8(text)));
}

void JsonWriter::value(std::string_view key, int64_t number) {
    prefix(key);
    m_out += std::to_string(number);
}

void JsonWriter::value(std::string_view key, bool flag) {
    prefix(key);
    m_out += flag ? "true" : "false";
}

void JsonWriter::null(std::string_view key) {
    prefix(key);
    m_out += "null";
}

void JsonWriter::escape(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", u);
                    out += buf;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

}  // namespace tessara::cli
