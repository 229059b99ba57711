// The palette-honouring reader on arbitrary script text. The first byte picks the target type
// and a palette size; the rest is the text of the script whose palette is honoured. A palette
// read from a Maestro or Scenarist script and written into a new header must read back the same.

#include <string>
#include <string_view>

#include "base/messages.h"
#include "formats/palette_honour.h"
#include "formats/script_writer.h"
#include "fuzz_support.h"
#include "script/settings.h"
#include "timeline/palette.h"

namespace {

using namespace tessara;

bool same_palette(const timeline::Palette& a, const timeline::Palette& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (int32_t i = 0; i < a.size(); ++i) {
        if (a.used(i) != b.used(i) || a.colour_at(i) != b.colour_at(i)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputReader in(data, size);
    const uint8_t selector = in.byte();
    const std::string_view text = in.rest();
    base::SilentMessages messages;

    // The reader alone, against palettes of any size (none at all included).
    timeline::Palette any(static_cast<int32_t>(selector) - 8);
    formats::honour_palette_comments(text, any, messages);
    FUZZ_CHECK(any.used_count() <= any.size());

    const auto type = static_cast<script::ScriptType>(selector % script::kScriptTypeCount);
    auto writer = formats::make_script_writer(type);
    FUZZ_CHECK(writer != nullptr);
    timeline::Palette palette(writer->palette_size());
    if (!writer->honor_palette(text, palette, messages) ||
        (type != script::ScriptType::SON && type != script::ScriptType::SST &&
         type != script::ScriptType::VOBSUB)) {
        return 0;
    }
    // Maestro scripts number their entries from 00, but the reader counts from 1 until it meets
    // an entry 00: a palette whose entry 0 is unused does not read back in the same places.
    if (type == script::ScriptType::SON && !palette.used(0)) {
        return 0;
    }
    std::string header;
    script::ConversionSettings settings;
    FUZZ_CHECK(writer->write_header(header, settings, u"", palette, std::nullopt, messages));
    timeline::Palette back(writer->palette_size());
    FUZZ_CHECK(formats::make_script_writer(type)->honor_palette(header, back, messages));
    FUZZ_CHECK(same_palette(palette, back));
    return 0;
}
