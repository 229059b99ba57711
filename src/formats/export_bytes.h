#pragma once

#include <string>
#include <string_view>

#include "script/settings.h"

namespace tessara::script {
struct CSubSegment;
struct DialogueEvent;
}  // namespace tessara::script

// How text becomes the bytes of a text export: one byte per character, in a code page.
namespace tessara::formats {

// Encodes the script's texts for an export file. A character the code page cannot hold is
// written as '?' and the call says so, so that the export can tell the user which entries lost
// characters instead of changing them silently.
class ExportBytes {
  public:
    explicit ExportBytes(const script::ConversionSettings& settings);

    // Text held as the script holds plain texts and actor names: bytes already in an 8-bit
    // script (written as they are), Unicode otherwise (encoded with the system code page).
    std::string held(std::u16string_view text, bool& replaced) const;

    // Text of a run (runs are always decoded by the reader) in the code page of the run's
    // character set (run_charset()), the system code page for a set without one of its own. In
    // an 8-bit script that is the code page the reader decoded it with, so the source bytes come
    // back unchanged.
    std::string run_text(std::u16string_view text, const script::CSubSegment& run,
                         const script::DialogueEvent& event, bool& replaced) const;

    // The character set a run is drawn with: its own \fe, else the forced CodePage setting,
    // else its style's.
    int32_t run_charset(const script::CSubSegment& run, const script::DialogueEvent& event) const;

    // `text` in `code_page`; characters it cannot hold become '?' and set `replaced`.
    static std::string encode(std::u16string_view text, int code_page, bool& replaced);

    int system_code_page() const { return m_system_code_page; }

  private:
    bool m_unicode;
    int m_system_code_page;
    int32_t m_forced_charset;
};

}  // namespace tessara::formats
