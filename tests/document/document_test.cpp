#include "document/document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "base/messages.h"
#include "base/text.h"
#include "document/feed_source.h"
#include "document/rendering_dialogs.h"
#include "document/summary.h"
#include "script/settings.h"
#include "test_support.h"

// The document's operations called directly, as both front ends call them.
namespace tessara::document {
namespace {

namespace fs = std::filesystem;

std::string demo() {
    return std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa";
}

std::string row(const std::vector<SummaryRow>& rows, const std::string& label) {
    for (const auto& r : rows) {
        if (r.label == label) {
            return r.value;
        }
    }
    return "(no row " + label + ")";
}

TEST(Document, SettingsAppliedAfterLoadingStopAtTheFirstRefusedOne) {
    Document doc;
    base::RecordingMessages messages;
    ASSERT_TRUE(doc.open(demo(), nullptr, messages));
    EXPECT_FALSE(doc.modified());
    const auto refused =
        doc.apply_settings({{"ResX", "704"}, {"ResY", "20000"}, {"FPSout", "30"}}, messages);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->first, "ResY");
    EXPECT_EQ(doc.script().settings.res_x, 704);
    EXPECT_EQ(doc.script().settings.timing.fps_out_text, u"25");  // after the refused one
    EXPECT_TRUE(doc.modified());

    // A segment given this way counts at the frame rates set by then, for every operation
    // (saving and generating used to drop it).
    ASSERT_FALSE(doc.apply_settings({{"DVDSeg", "00:00:01:00/00:00:05:00"}}, messages));
    ASSERT_EQ(doc.script().settings.dvd_segments.size(), 1u);
    EXPECT_EQ(doc.script().settings.dvd_segments[0].start.frame, 25);
    test::TempDir dir;
    const std::string saved = dir.file("saved.ssa").string();
    ASSERT_TRUE(doc.save_as(saved, messages));
    EXPECT_FALSE(doc.modified());
    EXPECT_NE(test::read_file(saved).find("DVDSeg="), std::string::npos);
    EXPECT_EQ(doc.source_path(), base::utf8_to_utf16(saved));
}

TEST(Document, SummaryRowsDescribeTheSettings) {
    Document empty;
    const auto none = summary_rows(empty);
    ASSERT_EQ(none.size(), 15u);
    for (const auto& r : none) {
        EXPECT_EQ(r.value, "N/A") << r.label;
    }

    Document doc;
    base::RecordingMessages messages;
    ASSERT_TRUE(doc.open(demo(), nullptr, messages));
    auto summary = [&](std::vector<SettingText> settings, const std::string& label) {
        EXPECT_FALSE(doc.apply_settings(settings, messages));
        return row(summary_rows(doc), label);
    };
    EXPECT_EQ(summary({{"Minus2", "3"}, {"FixedWidth", "600"}}, "Output resolution"),
              "720 x 576 (minus 2), fixed width=600");
    EXPECT_EQ(summary({{"FullWidth", "1"}}, "Output resolution"),
              "720 x 576 (minus 2), full width");
    EXPECT_EQ(summary({{"DontClip", "1"}, {"Minus2", "0"}}, "Output resolution"),
              "720 x 576, not clipped");
    EXPECT_EQ(summary({{"CodePage", "204"}}, "Code page"), "force Russian");
    EXPECT_EQ(summary({{"CodePage", "7"}}, "Code page"), "Unknown");
    EXPECT_EQ(summary({{"ImgType", "tif"}}, "Output bitmap files"),
              std::string(TESSARA_SOURCE_DIR) + "/samples/demo_NNNN.tif");
    EXPECT_EQ(summary({{"ScrType", "SST"}}, "Output palette file"), "N/A");
    EXPECT_EQ(summary({{"LineSpacing", "150"}}, "Line spacing"), "150%");
}

TEST(Document, PreviewBuildFindsSubpicturesByNumberAndTime) {
    Document doc;
    base::RecordingMessages messages;
    ASSERT_TRUE(doc.open(demo(), nullptr, messages));
    const PreviewBuild* build = doc.build_preview(nullptr, messages);
    ASSERT_NE(build, nullptr);
    EXPECT_EQ(doc.last_build(), build);
    const auto rows = subpicture_rows(*build, doc.script());
    ASSERT_GE(rows.size(), 3u);
    for (const SubpictureRow& r : rows) {
        SCOPED_TRACE(r.number);
        const timeline::Subpicture* by_number = build->find(r.number, std::nullopt);
        ASSERT_NE(by_number, nullptr);
        // Its first and last frames both find it; the frame after finds another.
        script::FrameTime last = r.stop;
        --last.frame;
        EXPECT_EQ(build->find(std::nullopt, r.start), by_number);
        EXPECT_EQ(build->find(std::nullopt, last), by_number);
        EXPECT_NE(build->find(std::nullopt, r.stop), by_number);
        ASSERT_FALSE(r.members.empty());
        for (const MemberRow& m : r.members) {
            EXPECT_GE(m.event, 0);
            EXPECT_GT(m.width, 0);
        }
    }
    EXPECT_EQ(build->find(int64_t{9999}, std::nullopt), nullptr);
}

TEST(Document, DrawingAnEventThatIsNotThereSaysHowManyThereAre) {
    Document doc;
    base::RecordingMessages messages;
    ASSERT_TRUE(doc.open(demo(), nullptr, messages));
    auto drawn = doc.draw_event(0, messages);
    ASSERT_TRUE(drawn);
    EXPECT_GT(drawn->image.width(), 10);
    EXPECT_GE(drawn->lines, 1);
    EXPECT_FALSE(doc.draw_event(12, messages));
    EXPECT_EQ(messages.texts().back(),
              "There is no event 12: the script has 12 events (numbered from 0).");
}

// The style editor's sample is drawn exactly as an event of that style is drawn alone.
TEST(Document, TheStyleSampleIsTheEventAsItWouldBeDrawn) {
    Document doc;
    base::RecordingMessages messages;
    ASSERT_TRUE(doc.open(demo(), nullptr, messages));
    for (size_t i : {0u, 3u, 7u}) {
        SCOPED_TRACE(i);
        const script::DialogueEvent& event = *doc.script().events()[i];
        const std::u16string& line = event.line->text;
        // The event's text: everything after the ninth comma of its line.
        size_t at = 0;
        for (int comma = 0; comma < 9; ++comma) {
            at = line.find(u',', at) + 1;
        }
        auto as_event = doc.draw_event(i, messages);
        auto as_sample = doc.draw_sample(*event.bound_style, line.substr(at), messages);
        ASSERT_TRUE(as_event && as_sample);
        EXPECT_EQ(as_sample->image.width(), as_event->image.width());
        EXPECT_TRUE(as_sample->image.data() == as_event->image.data());
    }
}

// An 8-bit script whose style has a Cyrillic Encoding shows and draws its text as the same
// script in UTF-16 does, and every write-back that changes a character set decodes it again.
TEST(Document, EightBitEventsFollowTheCharacterSetsOfTheirStyles) {
    const std::string head =
        "[Script Info]\r\nScriptType: v4.00\r\n\r\n[V4 Styles]\r\n"
        "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
        "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
        "MarginV, AlphaLevel, Encoding\r\n"
        "Style: Cyr,Arial,28,16777215,65535,65535,0,0,0,1,2,0,2,10,10,10,0,204\r\n\r\n"
        "[Events]\r\n"
        "Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n"
        "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Cyr,,0,0,0,,";
    test::TempDir dir;
    test::write_file(dir.file("ansi.ssa"), head + "\xCF\xF0\xE8\xE2\xE5\xF2 {\\fe0}caf\xE9\r\n");
    test::write_file(dir.file("utf16.ssa"),
                     test::utf16le_with_bom(head + "Привет {\\fe0}café\r\n"));
    Document ansi;
    Document unicode;
    base::RecordingMessages messages;
    ASSERT_TRUE(ansi.open(dir.file("ansi.ssa").string(), nullptr, messages));
    ASSERT_TRUE(unicode.open(dir.file("utf16.ssa").string(), nullptr, messages));
    const script::DialogueEvent& event = *ansi.script().events().at(0);
    auto runs = [&] {
        std::u16string out;
        for (const auto& run : event.runs) {
            out += run.text + u"|";
        }
        return base::utf16_to_utf8(out);
    };
    EXPECT_EQ(runs(), "Привет|café|");
    // The plain text is shown decoded as a whole, with the style's code page.
    EXPECT_TRUE(display_event_text(ansi.script(), event).starts_with("Привет "));
    const script::Style& cyr = *ansi.script().find_style(u"Cyr");
    EXPECT_EQ(style_code_page(ansi.script(), cyr), 1251);
    EXPECT_EQ(style_code_page(unicode.script(), *unicode.script().find_style(u"Cyr")),
              std::nullopt);
    const auto drawn = ansi.draw_event(0, messages);
    const auto expected = unicode.draw_event(0, messages);
    ASSERT_TRUE(drawn && expected);
    EXPECT_EQ(drawn->image.width(), expected->image.width());
    EXPECT_TRUE(drawn->image.data() == expected->image.data());

    // "CodePage" given on the command line or in the rendering dialog, then a new Encoding.
    ASSERT_FALSE(ansi.apply_settings({{"CodePage", "161"}}, messages));
    EXPECT_EQ(runs(), "Οπθβες|café|");
    EXPECT_EQ(style_code_page(ansi.script(), cyr), 1253);
    RenderingDialog dialog = fill_rendering_dialog(ansi);
    dialog.charset = -1;
    ASSERT_TRUE(apply_rendering_dialog(ansi, dialog, messages));
    EXPECT_EQ(runs(), "Привет|café|");
    StyleEditor editor = fill_style_editor(ansi, u"Cyr").value();
    editor.charset = 0;
    ASSERT_TRUE(apply_style_editor(ansi, editor, messages));
    EXPECT_EQ(runs(), "Ïðèâåò|café|");
    EXPECT_EQ(style_code_page(ansi.script(), cyr), 1252);
}

// A frame size changed after loading (--set ResY=480) scales margins and fonts as the same
// setting read from the file does.
TEST(Document, ChangedFrameSizeDrawsAsIfLoadedWithIt) {
    test::TempDir dir;
    base::RecordingMessages messages;
    Document changed;
    ASSERT_TRUE(changed.open(demo(), nullptr, messages));
    ASSERT_FALSE(changed.apply_settings({{"ResX", "704"}, {"ResY", "480"}}, messages));
    ASSERT_TRUE(changed.save_as(dir.file("ntsc.ssa").string(), messages));
    Document loaded;
    ASSERT_TRUE(loaded.open(dir.file("ntsc.ssa").string(), nullptr, messages));
    for (size_t event : {0u, 2u}) {
        auto a = changed.draw_event(event, messages);
        auto b = loaded.draw_event(event, messages);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->image.width(), b->image.width()) << event;
        EXPECT_EQ(a->image.height(), b->image.height()) << event;
    }
    EXPECT_EQ(changed.script().output_height, 478);
}

TEST(Document, GeneratedScriptNameFollowsTheScriptType) {
    test::TempDir dir;
    fs::copy_file(demo(), dir.file("film.ssa"));
    Document doc;
    base::RecordingMessages messages;
    ASSERT_TRUE(doc.open(dir.file("film.ssa").string(), nullptr, messages));
    ASSERT_FALSE(doc.apply_settings({{"ScrType", "SST"}}, messages));
    output::GenerationSummary summary;
    doc.set_skip_bitmaps(true);
    ASSERT_TRUE(doc.generate(std::nullopt, nullptr, messages, summary));
    ASSERT_EQ(summary.scripts.size(), 1u);
    EXPECT_EQ(summary.scripts[0], dir.file("film.sst").string());
    EXPECT_TRUE(fs::exists(dir.file("film.sst")));
    EXPECT_EQ(doc.bitmap_name_pattern(), dir.file("film_NNNN.bmp").string());
}

// Every file in a folder, by name, with its bytes.
std::map<std::string, std::string> folder_bytes(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = test::read_file(entry.path());
    }
    return files;
}

// What a build must not change: every kept line and every event's runs.
struct ScriptState {
    std::vector<std::u16string> lines;
    std::vector<std::vector<script::CSubSegment>> runs;
    bool operator==(const ScriptState&) const = default;
};
ScriptState state_of(const script::Script& script) {
    ScriptState state;
    for (const auto& line : script.lines()) {
        state.lines.push_back(line->text);
    }
    for (const auto& event : script.events()) {
        state.runs.push_back(event->runs);
    }
    return state;
}

// A build keeps what it works out (placements, assigned colours, pixel classes) to itself: a
// preview build kept across generation runs changes neither the script nor a byte of their
// output, and is itself left as it was.
TEST(Document, PreviewBuildsAndGenerationRunsLeaveTheScriptAndEachOtherAlone) {
    test::TempDir dir;
    const std::string out = dir.file("out").string();
    fs::create_directories(out);
    const std::string script_path = out + "/film.son";
    base::RecordingMessages messages;
    output::GenerationSummary summary;

    Document alone;
    ASSERT_TRUE(alone.open(demo(), nullptr, messages));
    ASSERT_TRUE(alone.generate(script_path, nullptr, messages, summary));
    const auto expected = folder_bytes(out);
    ASSERT_GT(expected.size(), 5u);

    Document doc;
    ASSERT_TRUE(doc.open(demo(), nullptr, messages));
    const ScriptState before = state_of(doc.script());
    const PreviewBuild* build = doc.build_preview(nullptr, messages);
    ASSERT_NE(build, nullptr);
    std::vector<std::vector<uint32_t>> pictures;
    for (const auto& sp : build->timeline.subpictures()) {
        pictures.push_back(paint_subpicture(*sp, doc.script()).data());
    }
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        fs::remove_all(out);
        fs::create_directories(out);
        ASSERT_TRUE(doc.generate(script_path, nullptr, messages, summary));
        EXPECT_TRUE(folder_bytes(out) == expected);
        ASSERT_EQ(doc.last_build(), build);
        for (size_t i = 0; i < pictures.size(); ++i) {
            EXPECT_TRUE(paint_subpicture(*build->timeline.subpictures()[i], doc.script()).data() ==
                        pictures[i])
                << "subpicture " << i;
        }
        EXPECT_TRUE(state_of(doc.script()) == before);
    }
}

// A reload builds everything anew; only a subpicture that changed gets a new change id.
TEST(FeedSource, AReloadKeepsTheChangeIdsOfUnchangedSubpictures) {
    test::TempDir dir;
    const std::string path = dir.file("film.ssa").string();
    std::string text = test::read_file(demo());
    test::write_file(path, text);
    FeedSource source({path, nullptr, {}, std::nullopt});
    base::RecordingMessages messages;
    ASSERT_TRUE(source.load(messages));
    std::map<int32_t, int64_t> before;
    for (const auto& sp : source.build().timeline.subpictures()) {
        if (!sp->members.empty()) {
            before[sp->start.frame] = sp->change_id;
        }
    }
    ASSERT_GE(before.size(), 3u);

    // One subtitle's text changes.
    const size_t at = text.find("SAINT-ANNE LIGHTHOUSE");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 5, "SAINT");
    text.replace(at, 5, "SAINU");
    test::write_file(path, text);
    ASSERT_TRUE(source.reload(messages));
    int kept = 0;
    int changed = 0;
    for (const auto& sp : source.build().timeline.subpictures()) {
        if (sp->members.empty()) {
            continue;
        }
        auto it = before.find(sp->start.frame);
        ASSERT_NE(it, before.end());
        (sp->change_id == it->second ? kept : changed)++;
    }
    EXPECT_GT(kept, 0);
    EXPECT_GT(changed, 0);
}

// Events without text draw nothing: the feed loads and sends the same pictures as without them.
TEST(FeedSource, EventsWithoutTextSendNoPictureOfTheirOwn) {
    test::TempDir dir;
    const std::string plain = dir.file("plain.ssa").string();
    const std::string with = dir.file("with.ssa").string();
    std::string text = test::read_file(demo());
    test::write_file(plain, text);
    const size_t at = text.find("Dialogue: Marked=0,0:00:07.20");
    ASSERT_NE(at, std::string::npos);
    text.insert(at,
                "Dialogue: Marked=0,0:00:05.00,0:00:09.00,*Default,,0000,0000,0000,,\n"
                "Dialogue: Marked=0,0:00:15.50,0:00:17.00,*Default,,0000,0000,0000,,"
                "{\\pos(10,10)}\n");
    test::write_file(with, text);

    base::RecordingMessages messages;
    FeedSource a({plain, nullptr, {}, std::nullopt});
    FeedSource b({with, nullptr, {}, std::nullopt});
    ASSERT_TRUE(a.load(messages));
    ASSERT_TRUE(b.load(messages)) << messages.texts().back();
    EXPECT_TRUE(messages.texts().empty());
    const auto& settings = a.document().script().settings;
    EXPECT_TRUE(pictures_by_start(b.build(), settings) == pictures_by_start(a.build(), settings));
}

}  // namespace
}  // namespace tessara::document
