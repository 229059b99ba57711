#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/text.h"
#include "render/font_cache.h"
#include "render/font_engine.h"
#include "render/text_layout.h"
#include "robustness_support.h"
#include "script/script_edit.h"
#include "script/settings.h"
#include "script/ssa_reader.h"
#include "script/ssa_writer.h"
#include "test_support.h"
#include "timeline/colours.h"

// Absurd input stays bounded: blinking copies, line lengths, setting texts, the pixels one
// event may draw and numbers read without a range.
namespace tessara {
namespace {

using Clock = std::chrono::steady_clock;

std::string with_event(const std::string& dialogue) {
    return test::small_script_text() + dialogue + "\r\n";
}

double seconds_since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

size_t copies_of(const script::Script& s, const script::DialogueEvent& head) {
    size_t n = 0;
    for (const auto& ev : s.events()) {
        n += ev.get() == &head || ev->blink_head == &head;
    }
    return n;
}

TEST(Limits, BlinkCopies) {
    // The longest time range at the shortest period: seven million blinks unlimited.
    script::Script script;
    base::RecordingMessages messages;
    const auto t0 = Clock::now();
    ASSERT_TRUE(script::read_script_bytes(
        script,
        with_event("Dialogue: Marked=0,-99:59:59.99,99:59:59.99,Default,,0,0,0,,{#blink10}x"),
        u"blink.ssa", script::ReadOptions{}, messages));
    EXPECT_LT(seconds_since(t0), 5.0);
    const script::DialogueEvent& head = *script.events().at(3);
    EXPECT_EQ(copies_of(script, head), static_cast<size_t>(script::kMaxBlinkCopies));
    EXPECT_EQ(script.events().back()->start.value, -35999999 + (script::kMaxBlinkCopies - 1) * 10);
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts()[0],
              "Warning: the blinking subtitle starting at -99:59:59.99 would need too many "
              "copies;\nit stops blinking after 10000 blinks.");

    // Copies repeat the runs: an event of many words gets fewer copies, and the budget is for
    // the whole script.
    std::string words;
    for (int i = 0; i < 2000; ++i) {
        words += "w ";
    }
    std::string text = test::small_script_text();
    for (int i = 0; i < 3; ++i) {
        text +=
            "Dialogue: Marked=0,0:00:00.00,9:00:00.00,Default,,0,0,0,,{#blink10}" + words + "\r\n";
    }
    script::Script many;
    messages.clear();
    ASSERT_TRUE(
        script::read_script_bytes(many, text, u"many.ssa", script::ReadOptions{}, messages));
    size_t copied_runs = 0;
    for (const auto& ev : many.events()) {
        copied_runs += ev->blink_period != 0 ? ev->runs.size() : 0;
    }
    EXPECT_EQ(copies_of(many, *many.events().at(3)), 500u);  // 1000000 / 2000 runs
    // The others have used up the budget: each is shown once, not blinking.
    EXPECT_EQ(copies_of(many, *many.events().at(503)), 1u);
    EXPECT_EQ(copies_of(many, *many.events().at(504)), 1u);
    EXPECT_EQ(copied_runs, static_cast<size_t>(script::kMaxBlinkRunCopies) + 2 * 2000);
    EXPECT_EQ(messages.texts().size(), 1u);  // reported once

    // An ordinary blinking subtitle is untouched, and editing keeps to the same limit.
    script::Script demo;
    messages.clear();
    ASSERT_TRUE(script::read_script_bytes(
        demo,
        with_event("Dialogue: Marked=0,0:00:21.50,0:00:23.00,Default,,0,0,0,,{#blink50}STORM"),
        u"demo.ssa", script::ReadOptions{}, messages));
    EXPECT_TRUE(messages.texts().empty());
    script::DialogueEvent& storm = *demo.events().at(3);
    EXPECT_EQ(copies_of(demo, storm), 4u);
    ASSERT_TRUE(
        script::rewrite_event_times(demo, storm, script::ScriptTime{0}, script::ScriptTime{6000}));
    EXPECT_EQ(copies_of(demo, storm), 121u);
    ASSERT_TRUE(script::rewrite_event_times(demo, storm, script::ScriptTime{0},
                                            script::ScriptTime{35999999}));
    EXPECT_EQ(copies_of(demo, storm), static_cast<size_t>(script::kMaxBlinkCopies));
}

TEST(Limits, LinesTooLongToLoad) {
    // A 1 MiB line stops the load at once, in either encoding.
    const std::string line(1 << 20, 'x');
    for (bool unicode : {false, true}) {
        const std::string utf8 =
            with_event("Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,," + line);
        const std::string bytes = unicode ? test::utf16le_with_bom(utf8) : utf8;
        script::Script script;
        base::RecordingMessages messages;
        EXPECT_FALSE(
            script::read_script_bytes(script, bytes, u"long.ssa", script::ReadOptions{}, messages));
        EXPECT_EQ(messages.texts(), std::vector<std::string>{script::kLineTooLongText});
    }
}

// Saving writes no line the reader would refuse: the longest line that loads saves and loads
// again, one character more fails the save with the line's number and leaves the file alone.
TEST(Limits, SavedLinesAlwaysLoadAgain) {
    for (bool unicode : {false, true}) {
        SCOPED_TRACE(unicode ? "Unicode" : "8-bit");
        test::TempDir dir;
        const std::string path = dir.file("film.ssa").string();
        const std::string prefix = "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,";
        // The reader stops at 10239 characters counting the line end: LF alone for an 8-bit
        // file read in text mode, CR and LF for a Unicode file.
        const size_t longest = script::kMaxLineChars - (unicode ? 3 : 2);
        const std::string text = with_event(prefix + std::string(longest - prefix.size(), 'x'));
        const std::string original = unicode ? test::utf16le_with_bom(text) : text;
        test::write_file(path, original);

        script::Script script;
        base::RecordingMessages messages;
        ASSERT_TRUE(script::load_script(script, path, script::ReadOptions{}, messages));
        ASSERT_TRUE(script::save_script(script, std::nullopt, messages));
        script::Script again;
        ASSERT_TRUE(script::load_script(again, path, script::ReadOptions{}, messages));
        const std::string saved = test::read_file(path);

        // One character more, put there by an edit.
        script::DialogueEvent& ev = *again.events().at(3);
        ASSERT_TRUE(script::set_dialogue_line(again, ev, ev.line->text + u"y"));
        messages.clear();
        EXPECT_FALSE(script::save_script(again, std::nullopt, messages));
        ASSERT_EQ(messages.texts().size(), 1u);
        EXPECT_EQ(messages.texts()[0].rfind("Line ", 0), 0u);
        EXPECT_NE(messages.texts()[0].find("too long"), std::string::npos);
        EXPECT_EQ(test::read_file(path), saved);
    }
}

TEST(Limits, SettingTexts) {
    const std::u16string longest(script::kMaxSettingText, u'p');
    script::ConversionSettings s;
    EXPECT_TRUE(script::apply_setting(s, u"OutputFile", longest));
    EXPECT_FALSE(script::apply_setting(s, u"OutputFile", longest + u"p"));
    EXPECT_FALSE(script::apply_setting(s, u"FPSin", longest + u"p"));
    EXPECT_EQ(s.output_file, longest);

    // A settings line with a longer text is refused like any bad value.
    script::Script script;
    base::RecordingMessages messages;
    const std::string line =
        "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,TSRACONF: "
        "!OutputFile=" +
        std::string(script::kMaxSettingText + 1, 'p');
    ASSERT_TRUE(script::read_script_bytes(script, with_event(line), u"s.ssa", script::ReadOptions{},
                                          messages));
    EXPECT_EQ(script.settings.output_file, u"s.son");  // the default from the script's name
    ASSERT_FALSE(messages.texts().empty());
    EXPECT_EQ(messages.texts()[0].rfind("Warning: line totally or partially ignored", 0), 0u);
}

// A value that cannot be written so that it reads back (a line end in a path given on the
// command line, ';' in a frame rate from an old settings file) is left out of the saved file;
// every other setting is kept and the count of settings lines still matches.
TEST(Limits, SettingsThatCannotBeWrittenAreLeftOut) {
    script::Script script;
    ASSERT_TRUE(
        test::load_text(script, test::small_script_text("TabWidth=40;Expected=7"), "/tmp/a.ssa"));
    script.settings.output_file = u"/tmp/out\nDialogue: Marked=0,0:00:01.00,0:00:02.00,,,0,0,0,,x";
    script.settings.timing.fps_in_text = u"25;Colors=3";
    base::RecordingMessages messages;
    const auto saved = script::serialize_script(script, messages);
    ASSERT_TRUE(saved);
    script::Script back;
    ASSERT_TRUE(
        script::read_script_bytes(back, *saved, u"/tmp/a.ssa", script::ReadOptions{}, messages));
    EXPECT_TRUE(messages.texts().empty()) << messages.texts().front();
    EXPECT_EQ(back.events().size(), script.events().size());  // no line was smuggled in
    EXPECT_EQ(back.settings.output_file, u"/tmp/a.son");
    EXPECT_EQ(back.settings.timing.fps_in_text, u"");
    EXPECT_EQ(back.settings.colors, 2);
    EXPECT_EQ(back.settings.tab_width, 40);
    EXPECT_EQ(back.settings.timing.fps_out_text, u"25");
}

// Guides from many settings lines add up; saved, they are spread over entries that each fit a
// line, and read back whole.
TEST(Limits, ManyGuides) {
    script::Script script;
    ASSERT_TRUE(test::load_text(script, test::small_script_text(), "/tmp/g.ssa"));
    for (int32_t i = 0; i < 3000; ++i) {
        script.settings.guides.push_back(i % 2 == 0 ? i * 1000 : (i * 1000) | INT32_MIN);
    }
    base::RecordingMessages messages;
    const auto saved = script::serialize_script(script, messages);
    ASSERT_TRUE(saved) << messages.texts().front();
    script::Script back;
    ASSERT_TRUE(
        script::read_script_bytes(back, *saved, u"/tmp/g.ssa", script::ReadOptions{}, messages));
    EXPECT_TRUE(messages.texts().empty()) << messages.texts().front();
    EXPECT_EQ(back.settings.guides.size(), 3000u);
}

render::FontCache& fonts() {
    static auto engine = render::make_system_font_engine();
    static render::FontCache cache(*engine);
    return cache;
}

void set_classes(script::DialogueEvent& ev) {
    for (auto& run : ev.runs) {
        run.text_class = 0;
        run.antialias_class = 1;
        run.outline_class = 2;
    }
}

// Thousands of words at the largest size would take minutes to draw: one event draws at most
// 64 Mi pixels, the rest of its words are left out and the failure is reported once.
TEST(Limits, PixelsOfOneEvent) {
    std::string words;
    for (int i = 0; i < 3000; ++i) {
        words += "W ";
    }
    script::Script script;
    ASSERT_TRUE(test::load_text(
        script,
        with_event("Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\fs99999}" + words),
        "/tmp/big.ssa"));
    script::DialogueEvent& ev = *script.events().at(3);
    set_classes(ev);
    ASSERT_EQ(ev.runs.size(), 3000u);
    const render::LayoutSettings settings = render::LayoutSettings::from_script(script);
    base::RecordingMessages messages;
    render::RenderedSubtitle sub;
    const auto t0 = Clock::now();
    ASSERT_TRUE(render::layout_subtitle(ev, settings, fonts(), messages, sub));
    EXPECT_LT(seconds_since(t0), 20.0);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{render::kCannotCreateBitmapText});
    int64_t pixels = 0;
    for (const auto& seg : sub.segments) {
        pixels += int64_t{seg.classes.width()} * seg.classes.height();
    }
    EXPECT_GT(sub.segments.size(), 0u);
    EXPECT_LT(sub.segments.size(), 3000u);
    EXPECT_LE(pixels, int64_t{64} * 1024 * 1024);
}

// Style extras and margins are read without a range; rendering holds them to what it can
// compute (run under `make asan` this also proves there is no overflow).
TEST(Limits, NumbersWithoutARange) {
    const std::string extreme =
        "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,TSRASTYLE: Default;"
        "LineSpacing=-2147483648;ExtraSpace=2147483647;ItalicsRight=2147483647;"
        "ItalicsLeft=-2147483648;FaceTHLD=-5;AAliasTHLD=99999;AAliasAvg=-100;FontFlags=-1";
    std::string text = test::small_script_text();
    const std::string style =
        "Style: Default,DejaVu Sans,24,16777215,0,0,0,0,0,1,2,0,2,30,30,30,0,0";
    text.replace(text.find(style), style.size(),
                 "Style: Default,DejaVu Sans,24,16777215,0,0,0,0,1,1,2,0,2,2147483647,2147483647,"
                 "2147483647,0,0");
    text += extreme + "\r\n";
    text +=
        "Dialogue: Marked=0,0:00:07.00,0:00:08.00,Default,,-2147483648,2147483647,"
        "2147483647,,Many lines\\Nof text\\Nin italics\\Nwith huge numbers\r\n";
    script::Script script;
    base::RecordingMessages messages;
    ASSERT_TRUE(script::read_script_bytes(script, text, u"n.ssa", script::ReadOptions{}, messages));
    const render::LayoutSettings settings = render::LayoutSettings::from_script(script);
    for (const auto& ev : script.events()) {
        set_classes(*ev);
        render::RenderedSubtitle sub;
        messages.clear();
        if (!render::layout_subtitle(*ev, settings, fonts(), messages, sub)) {
            continue;
        }
        EXPECT_GE(sub.box_width, 0);
        EXPECT_GE(sub.box_height, 0);
        for (const auto& seg : sub.segments) {
            EXPECT_GT(seg.width, 0);
            EXPECT_GT(seg.height, 0);
            EXPECT_TRUE(seg.classes.empty() ||
                        (seg.classes.width() == seg.width && seg.classes.height() == seg.height));
        }
    }
}

// A subpicture of hundreds of subtitles in their own colours: the candidate list grows past its
// first allocation while a place in it is held (this crashed the timeline command).
TEST(Limits, ManyColourCandidates) {
    timeline::ColorCandidates candidates;
    for (int32_t i = 0; i < 1000; ++i) {
        candidates.insert({static_cast<script::Colour>(i), 0, 0, (i * 7919) % 13});
    }
    const auto& list = candidates.list();
    ASSERT_EQ(list.size(), 1000u);
    for (size_t i = 1; i < list.size(); ++i) {
        ASSERT_GE(list[i - 1].priority, list[i].priority);
        if (list[i - 1].priority == list[i].priority) {
            ASSERT_LT(list[i - 1].text, list[i].text);  // equal priorities in insertion order
        }
    }
}

}  // namespace
}  // namespace tessara
