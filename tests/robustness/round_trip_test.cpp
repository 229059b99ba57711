#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/messages.h"
#include "robustness_support.h"
#include "script/event_text.h"
#include "script/ssa_reader.h"
#include "script/ssa_writer.h"

// Scripts put together in odd ways (two scripts run together, sections out of order, settings
// after the events) load after saving as they loaded before. Each case was found by the reader's
// fuzz target; its input is also kept in fuzz/corpus/ssa_reader.
namespace tessara {
namespace {

constexpr const char* kFormat =
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
    "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
    "MarginV, AlphaLevel, Encoding\r\n";
constexpr const char* kEventsFormat =
    "Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n";
constexpr const char* kComment = "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,";

struct Loaded {
    script::Script script;
    base::RecordingMessages messages;
    bool ok = false;
};

std::unique_ptr<Loaded> load(const std::string& bytes) {
    auto l = std::make_unique<Loaded>();
    l->ok =
        script::read_script_bytes(l->script, bytes, u"odd.ssa", script::ReadOptions{}, l->messages);
    return l;
}

// Loads, saves and loads again.
std::unique_ptr<Loaded> reload(const Loaded& first) {
    base::RecordingMessages messages;
    const auto saved = script::serialize_script(first.script, messages);
    EXPECT_TRUE(saved.has_value());
    return load(saved.value_or(""));
}

const script::Style* style(const Loaded& l, std::u16string_view name) {
    return l.script.find_style(name);
}

// The extras of a style defined after the events' Format line used to be written before its
// Style line, where the reader cannot attach them.
TEST(RoundTrip, ExtrasOfAStyleDefinedAfterTheEvents) {
    std::string text = "[V4 Styles]\r\n" + std::string(kFormat) +
                       "Style: Default,Arial,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n"
                       "[Events]\r\n" +
                       kEventsFormat +
                       "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,One\r\n"
                       "[V4 Styles]\r\n" +
                       kFormat + "Style: Late,Arial,30,255,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n" +
                       kComment + "TSRASTYLE: Late;LineSpacing=150;FontFlags=8\r\n" + kComment +
                       "TSRASTYLE: Default;ItalicsRight=12\r\n";
    auto first = load(text);
    ASSERT_TRUE(first->ok);
    ASSERT_EQ(style(*first, u"Late")->line_spacing, 150);
    auto second = reload(*first);
    ASSERT_TRUE(second->ok);
    EXPECT_TRUE(second->messages.texts().empty()) << second->messages.texts().front();
    EXPECT_EQ(style(*second, u"Late")->line_spacing, 150);
    EXPECT_EQ(style(*second, u"Late")->font_flags, 8);
    EXPECT_EQ(style(*second, u"Default")->italics_right, 12);
}

// A Dialogue line before any events section gets an "[Events]" line in front of it, written
// out on saving. Read back it opens the events section, so a Format line further down is no
// longer the styles' Format: the first load reads the lines after it the same way already.
TEST(RoundTrip, DialogueBeforeTheEventsSection) {
    std::string text = "[V4 Styles]\r\n" + std::string(kFormat) +
                       "Style: Default,Arial,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n"
                       "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,One\r\n"
                       "Format: Name, Fontsize, Fontname\r\n"
                       "Style: Second,40,Arial\r\n";
    auto first = load(text);
    ASSERT_TRUE(first->ok);
    auto second = reload(*first);
    ASSERT_TRUE(second->ok);
    ASSERT_EQ(first->script.styles().size(), second->script.styles().size());
    for (size_t i = 0; i < first->script.styles().size(); ++i) {
        EXPECT_EQ(first->script.styles()[i]->name, second->script.styles()[i]->name);
        EXPECT_EQ(first->script.styles()[i]->font_size_stored,
                  second->script.styles()[i]->font_size_stored);
    }
}

// "MBCodePage" holds for the whole document: a settings line after some Dialogue lines decodes
// them too, as a save (settings first) and a reload would.
TEST(RoundTrip, CodePageSettingAfterTheDialogue) {
    std::string text =
        "[V4 Styles]\r\n" + std::string(kFormat) +
        "Style: Default,Arial,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n"
        "[Events]\r\n" +
        kEventsFormat + "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,\xC1\xCB\r\n" +
        "Dialogue: Marked=0,0:00:03.00,0:00:04.00,Default,,0,0,0,,{#blink20}\xC1\xCB\r\n" +
        kComment + "TSRACONF: MBCodePage=1251\r\n";
    auto first = load(text);
    ASSERT_TRUE(first->ok);
    ASSERT_GE(first->script.events().size(), 2u);
    for (const auto& ev : first->script.events()) {
        ASSERT_EQ(ev->runs.size(), 1u);
        EXPECT_EQ(ev->runs[0].text, u"\u0411\u041B");  // Cyrillic, not Latin-1
    }
    auto second = reload(*first);
    ASSERT_TRUE(second->ok);
    ASSERT_EQ(first->script.events().size(), second->script.events().size());
    for (size_t i = 0; i < first->script.events().size(); ++i) {
        EXPECT_EQ(first->script.events()[i]->runs, second->script.events()[i]->runs);
    }
}

// Runs written back as text scan into the same runs: an empty block keeps runs apart that a
// block without effect split, and a space on the far side of a block stays there.
TEST(RoundTrip, RunsWrittenAsTextScanTheSame) {
    for (std::u16string_view text :
         {u"years{\\io}the", u"years{\\x} of", u"a {} b", u"{\\b1}a{\\b1}b c{}", u"x{\\i5} y"}) {
        std::optional<script::StyleOverride> event;
        const auto first = script::scan_event_text(text, {}, event);
        const std::u16string written = script::serialize_runs(event, first.runs);
        std::optional<script::StyleOverride> again_event;
        const auto second = script::scan_event_text(written, {}, again_event);
        EXPECT_EQ(first.runs, second.runs) << std::string(written.begin(), written.end());
    }
}

}  // namespace
}  // namespace tessara
