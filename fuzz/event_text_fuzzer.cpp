// The event-text scanner and the override-block parser on arbitrary text. The first byte picks
// the scan options and how the rest is read (one character per byte, or UTF-16LE). Runs scanned
// from text as read must come back unchanged when written out with serialize_runs and scanned
// again: the tools that rewrite event text depend on it.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "script/event_text.h"

namespace {

using namespace tessara;
using script::ScanOptions;
using script::StyleOverride;
using script::TextEncoding;

constexpr std::array<int, 8> kCodePages = {1252, 932, 936, 949, 950, 1251, 1253, 874};

void check_scanned(const script::ScannedText& s, const ScanOptions& options) {
    FUZZ_CHECK(s.blink_period == 0 || (s.blink_period >= 10 && s.blink_period <= 500));
    if (options.encoding != TextEncoding::AsRead) {
        return;
    }
    for (const auto& run : s.runs) {
        FUZZ_CHECK(!run.text.empty());
        if (run.override && run.override->charset) {
            FUZZ_CHECK(*run.override->charset >= 0 && *run.override->charset <= 255);
        }
    }
}

// A space after a run that ends its line or the text has no effect and is not written back.
std::vector<script::CSubSegment> as_written(std::vector<script::CSubSegment> runs) {
    for (auto& run : runs) {
        if (run.line_break_after || &run == &runs.back()) {
            run.space_after = false;
        }
    }
    return runs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputReader in(data, size);
    const uint8_t flags = in.byte();
    ScanOptions options;
    options.treat_n_as_N = (flags & 1) != 0;
    const int mode = (flags >> 1) & 3;
    options.encoding = mode == 1   ? TextEncoding::DecodeAnsi
                       : mode == 2 ? TextEncoding::EncodeAnsi
                                   : TextEncoding::AsRead;
    options.system_code_page = kCodePages[(flags >> 4) & 7];
    const std::u16string text =
        (flags & 8) != 0 ? fuzz::utf16le(in.rest()) : fuzz::widen(in.rest());

    std::optional<StyleOverride> event_override;
    const script::ScannedText scanned = script::scan_event_text(text, options, event_override);
    check_scanned(scanned, options);

    if (options.encoding == TextEncoding::AsRead) {
        const std::u16string written = script::serialize_runs(event_override, scanned.runs);
        std::optional<StyleOverride> again_override;
        const script::ScannedText again = script::scan_event_text(written, options, again_override);
        FUZZ_CHECK(again.runs == as_written(scanned.runs));
        FUZZ_CHECK(again_override == event_override);
        // From then on writing and scanning change nothing.
        const std::u16string rewritten = script::serialize_runs(again_override, again.runs);
        FUZZ_CHECK(rewritten == script::serialize_runs(event_override, as_written(scanned.runs)));
    }

    // The same text as one override block, over an override in force and without one.
    std::optional<StyleOverride> block_event;
    std::optional<StyleOverride> current = StyleOverride{};
    current->bold = true;
    current->font_size = 20;
    const auto over = script::parse_override_block(text, current, block_event);
    const auto fresh = script::parse_override_block(text, std::nullopt, block_event);
    if (over && over->charset) {
        FUZZ_CHECK(*over->charset >= 0 && *over->charset <= 255);
    }
    if (fresh && fresh->charset) {
        FUZZ_CHECK(*fresh->charset >= 0 && *fresh->charset <= 255);
    }
    return 0;
}
