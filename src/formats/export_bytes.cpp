#include "formats/export_bytes.h"

#include <optional>

#include "script/codepage.h"
#include "script/script.h"

namespace tessara::formats {

namespace {

// Bytes held one per UTF-16 unit (every unit below 256) as a byte string.
std::string to_bytes(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (char16_t u : units) {
        out += static_cast<char>(static_cast<unsigned char>(u));
    }
    return out;
}

bool is_high_surrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool is_low_surrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

ExportBytes::ExportBytes(const script::ConversionSettings& settings)
    : m_unicode(settings.unicode),
      m_system_code_page(script::system_code_page(settings.mb_code_page)),
      m_forced_charset(settings.code_page) {}

std::string ExportBytes::encode(std::u16string_view text, int code_page, bool& replaced) {
    if (text.empty()) {
        return {};
    }
    if (auto whole = script::encode_8bit(text, code_page)) {
        return to_bytes(*whole);
    }
    // Some character does not fit: go character by character and mark the ones that fail.
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t n = 1;
        if (is_high_surrogate(text[i]) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
            n = 2;
        }
        if (auto one = script::encode_8bit(text.substr(i, n), code_page)) {
            out += to_bytes(*one);
        } else {
            out += '?';
            replaced = true;
        }
        i += n;
    }
    return out;
}

std::string ExportBytes::held(std::u16string_view text, bool& replaced) const {
    if (!m_unicode) {
        bool bytes = true;
        for (char16_t c : text) {
            bytes = bytes && c < 0x100;
        }
        // Text typed into an 8-bit script by an editor may already be decoded.
        if (bytes) {
            return to_bytes(text);
        }
    }
    return encode(text, m_system_code_page, replaced);
}

int32_t ExportBytes::run_charset(const script::CSubSegment& run,
                                 const script::DialogueEvent& event) const {
    return script::effective_charset(run.override,
                                     event.bound_style != nullptr ? event.bound_style->charset : 0,
                                     m_forced_charset);
}

std::string ExportBytes::run_text(std::u16string_view text, const script::CSubSegment& run,
                                  const script::DialogueEvent& event, bool& replaced) const {
    // An 8-bit script's reader decoded the run with this same code page.
    int code_page = script::text_code_page(run_charset(run, event), m_system_code_page);
    if (code_page <= 0) {
        code_page = m_system_code_page;
    }
    return encode(text, code_page, replaced);
}

}  // namespace tessara::formats
