#include "script/ssa_writer.h"

#include <cstdio>
#include <unordered_set>

#include "base/file_io.h"
#include "base/messages.h"
#include "base/text.h"
#include "script/codepage.h"
#include "script/script.h"
#include "script/ssa_reader.h"

namespace tessara::script {

const char* const kSaveOpenErrorFormat = "Error opening %s";
const char* const kSaveWriteErrorFormat = "Error writing to %s";
const char* const kLineTooLongToSaveFormat =
    "Line %d is too long to be read back (the limit is 10238 characters).\nShorten it, then "
    "save again; the file was not written.";
const char* const kUnencodableLineFormat =
    "Line %d holds characters that cannot be stored in an 8-bit script.\nConvert the script to "
    "Unicode to keep them.";

const char* const kUnpairedSurrogateLineFormat =
    "Line %d holds half of a character pair, which cannot be stored in a UTF-8 script.\nRetype "
    "the character, then save again; the file was not written.";

namespace {

// How the saved file holds its text: as the file was read (or as the conversion to Unicode
// made it).
enum class Form { EightBit, Utf16, Utf8 };

Form file_form(const ConversionSettings& settings) {
    if (!settings.unicode) {
        return Form::EightBit;
    }
    return settings.unicode_file == UnicodeFile::Utf16 ? Form::Utf16 : Form::Utf8;
}

// Collects the file's bytes line by line in the script's encoding.
class LineSink {
  public:
    LineSink(const Script& script, base::Messages& messages)
        : m_form(file_form(script.settings)),
          m_code_page(system_code_page(script.settings.mb_code_page)),
          m_messages(messages) {
        if (m_form == Form::Utf16) {
            m_bytes = "\xFF\xFE";
        } else if (script.settings.unicode &&
                   script.settings.unicode_file == UnicodeFile::Utf8WithMark) {
            m_bytes = "\xEF\xBB\xBF";
        }
    }

    // False when an 8-bit line cannot hold the text, or when the line would be too long for
    // the reader (the message has been shown).
    bool line(std::u16string_view text) {
        ++m_line_number;
        const size_t start = m_bytes.size();
        if (m_form == Form::Utf16) {
            for (char16_t c : text) {
                m_bytes += static_cast<char>(c & 0xFF);
                m_bytes += static_cast<char>(c >> 8);
            }
            // The reader counts the carriage return and the line feed of a Unicode line.
            if (!fits((m_bytes.size() - start) / 2 + 2)) {
                return false;
            }
            m_bytes.append("\r\0\n\0", 4);
            return true;
        }
        // A byte file is read in text mode: its CR LF counts as one character. The reader then
        // takes one more CR off the end of the line, so a line whose text ends in a CR gets one
        // more to give up. (A UTF-16 line keeps its CR LF, whose CR is the one taken off.)
        // The reader counts characters: a UTF-8 line counts its UTF-16 units, not its bytes.
        size_t counted = text.size();
        if (m_form == Form::Utf8) {
            if (!encode_utf8_line(text)) {
                return false;
            }
        } else {
            if (!encode_8bit_line(text)) {
                return false;
            }
            counted = m_bytes.size() - start;
        }
        if (!text.empty() && text.back() == u'\r') {
            m_bytes += '\r';
            ++counted;
        }
        if (!fits(counted + 1)) {
            return false;
        }
        m_bytes += "\r\n";
        return true;
    }

    std::string take() { return std::move(m_bytes); }

  private:
    // Whether a line of this many characters, its line end as the reader counts it included,
    // reads back (kMaxLineChars stops the load).
    bool fits(size_t counted) {
        if (counted < kMaxLineChars) {
            return true;
        }
        char buf[256];
        std::snprintf(buf, sizeof buf, kLineTooLongToSaveFormat, m_line_number);
        m_messages.error(buf);
        return false;
    }

    bool encode_utf8_line(std::u16string_view text) {
        if (base::has_unpaired_surrogate(text)) {
            char buf[256];
            std::snprintf(buf, sizeof buf, kUnpairedSurrogateLineFormat, m_line_number);
            m_messages.error(buf);
            return false;
        }
        m_bytes += base::utf16_to_utf8(text);
        return true;
    }

    bool encode_8bit_line(std::u16string_view text) {
        // Text read from an 8-bit file holds one byte per character. Characters above 255 can
        // only have been put there by the program (paths, typed names); they are stored with the
        // system code page, never cut to their low 8 bits.
        size_t start = 0;
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i < text.size() && text[i] <= 0xFF) {
                continue;
            }
            for (size_t k = start; k < i; ++k) {
                m_bytes += static_cast<char>(text[k]);
            }
            if (i == text.size()) {
                break;
            }
            size_t end = i;
            while (end < text.size() && text[end] > 0xFF)
                ++end;
            auto encoded = encode_8bit(text.substr(i, end - i), m_code_page);
            if (!encoded) {
                char buf[256];
                std::snprintf(buf, sizeof buf, kUnencodableLineFormat, m_line_number);
                m_messages.error(buf);
                return false;
            }
            for (char16_t b : *encoded) {
                m_bytes += static_cast<char>(b);
            }
            start = end;
            i = end - 1;
        }
        return true;
    }

    Form m_form;
    int m_code_page;
    base::Messages& m_messages;
    std::string m_bytes;
    int m_line_number = 0;
};

// Where the settings lines go: right after the first events anchor. A script whose events
// section has no Format line has no anchor; its "[Events]" header takes that place so that the
// settings read from the file are not lost on saving. Without either they go at the end.
const ScriptLine* settings_anchor(const Script& script) {
    for (const auto& line : script.lines()) {
        if (line->kind == LineKind::EventsAnchor) {
            return line.get();
        }
    }
    for (const auto& line : script.lines()) {
        if (line->kind == LineKind::Other &&
            base::iequals(base::trim_blanks(line->text), u"[Events]")) {
            return line.get();
        }
    }
    return nullptr;
}

// A style's extras line is read only once its Style line has been: with the settings they go
// right after the anchor, but a style defined after the anchor (two scripts run together) has
// its extras line written right after its own line, or saving would lose them.
std::unordered_set<const Style*> styles_after(const Script& script, const ScriptLine* anchor) {
    std::unordered_set<const Style*> late;
    bool after = false;
    for (const auto& line : script.lines()) {
        if (after && line->kind == LineKind::Style && line->style != nullptr) {
            late.insert(line->style);
        }
        after = after || line.get() == anchor;
    }
    return late;
}

bool write_style_extras(const Style& style, LineSink& sink) {
    std::u16string extras = style_extras_line(style);
    return extras.empty() || sink.line(extras);
}

bool write_settings(const Script& script, const std::unordered_set<const Style*>& late,
                    LineSink& sink) {
    for (const auto& line : settings_lines(script.settings)) {
        if (!sink.line(line))
            return false;
    }
    for (const auto& style : script.styles()) {
        if (!late.contains(style.get()) && !write_style_extras(*style, sink))
            return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> serialize_script(const Script& script, base::Messages& messages) {
    LineSink sink(script, messages);
    const ScriptLine* anchor = settings_anchor(script);
    const std::unordered_set<const Style*> late = styles_after(script, anchor);
    for (const auto& line : script.lines()) {
        switch (line->kind) {
            case LineKind::Deleted:
                continue;
            case LineKind::Dialogue:
                if (line->event != nullptr && line->event->user_override) {
                    std::u16string uo =
                        user_override_line(*line->event->user_override, line->event->start);
                    if (!uo.empty() && !sink.line(uo))
                        return std::nullopt;
                }
                break;
            default:
                break;
        }
        if (!sink.line(line->text))
            return std::nullopt;
        if (line.get() == anchor && !write_settings(script, late, sink))
            return std::nullopt;
        if (line->kind == LineKind::Style && late.contains(line->style) &&
            !write_style_extras(*line->style, sink))
            return std::nullopt;
    }
    if (anchor == nullptr && !write_settings(script, late, sink))
        return std::nullopt;
    return sink.take();
}

bool save_script(Script& script, const std::optional<std::string>& path, base::Messages& messages) {
    const std::string target = path ? *path : base::utf16_to_utf8(script.settings.source_path);
    auto bytes = serialize_script(script, messages);
    if (!bytes) {
        return false;
    }
    if (!base::write_file_atomically(target, *bytes, kSaveOpenErrorFormat, kSaveWriteErrorFormat,
                                     messages)) {
        return false;
    }
    script.settings.source_path = base::utf8_to_utf16(target);
    script.settings.settings_seen = true;
    return true;
}

}  // namespace tessara::script
