#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/messages.h"
#include "formats/text_exports.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "test_support.h"

namespace tessara::formats {
namespace {

struct Ev {
    std::string start, end, text;
    std::string actor = "";
    std::string user = "";  // TSRAUSER items
    std::string style = "Default";
};

// A script with a white and a yellow style, 25 fps in and out unless changed.
std::unique_ptr<script::Script> load(const std::vector<Ev>& events, bool unicode = false) {
    std::string text =
        "[Script Info]\r\nPlayResY: 480\r\n[V4 Styles]\r\nFormat: Name, Fontname, Fontsize, "
        "PrimaryColour, SecondaryColour, TertiaryColour, BackColour, Bold, Italic, BorderStyle, "
        "Outline, Shadow, Alignment, MarginL, MarginR, MarginV, AlphaLevel, Encoding\r\n"
        "Style: Default,DejaVu Sans,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n"
        "Style: Yellow,DejaVu Sans,20,65535,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n"
        "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
        "Effect, Text\r\n";
    for (const Ev& e : events) {
        const std::string times = e.start + "," + e.end + ",";
        if (!e.user.empty()) {
            text += "Comment: Marked=0," + times + "*Default,,0000,0000,0000,,TSRAUSER: " + e.user +
                    "\r\n";
        }
        text += "Dialogue: Marked=0," + times + e.style + "," + e.actor + ",0000,0000,0000,," +
                e.text + "\r\n";
    }
    auto s = std::make_unique<script::Script>();
    base::RecordingMessages messages;
    EXPECT_TRUE(script::read_script_bytes(*s, unicode ? test::utf16le_with_bom(text) : text,
                                          u"t.ssa", {}, messages));
    s->settings.timing.fps_in_text = u"25";
    s->settings.timing.fps_out_text = u"25";
    return s;
}

void set_rates(script::Script& s, std::u16string in, std::u16string out, bool drop = false) {
    s.settings.timing.fps_in_text = std::move(in);
    s.settings.timing.fps_out_text = std::move(out);
    s.settings.timing.drop_frame = drop;
}

TextExport run(script::Script& s, TextExportKind kind, base::RecordingMessages& messages,
               const TextExportOptions& options = {}) {
    return build_text_export(s, kind, options, messages);
}

TEST(SrtExport, OverlappingSubtitlesShareTheSlicesTheyAreShownIn) {
    auto s = load(
        {{"0:00:01.00", "0:00:03.00", "First\\N\\Nline"}, {"0:00:02.00", "0:00:04.00", "Second"}});
    base::RecordingMessages messages;
    const TextExport r = run(*s, TextExportKind::Srt, messages);
    ASSERT_EQ(r.status, ExportStatus::Done);
    EXPECT_EQ(r.entries, 3);
    // The empty middle line is not written: it would end the entry.
    EXPECT_EQ(r.bytes,
              "1\r\n00:00:01,000 --> 00:00:02,000\r\nFirst\r\nline\r\n\r\n"
              "2\r\n00:00:02,000 --> 00:00:03,000\r\nFirst\r\nline\r\nSecond\r\n\r\n"
              "3\r\n00:00:03,000 --> 00:00:04,000\r\nSecond\r\n\r\n");
    EXPECT_TRUE(r.notes.empty());
    EXPECT_TRUE(messages.messages().empty());
}

TEST(SrtExport, AnIndependentReaderReadsTheFileBack) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    auto s = load(
        {{"0:00:01.00", "0:00:03.00", "First"}, {"0:00:02.00", "0:00:04.00", "Second\\Nline"}});
    test::TempDir dir;
    const std::string path = dir.file("t.srt").string();
    base::RecordingMessages messages;
    ASSERT_EQ(export_text(*s, TextExportKind::Srt, path, {}, messages), ExportStatus::Done);
    const std::string cmd = "ffmpeg -nostdin -v error -i '" + path + "' -f srt - 2>&1";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[256];
    while (size_t n = std::fread(buf, 1, sizeof buf, pipe)) {
        for (size_t i = 0; i < n; ++i) {
            if (buf[i] != '\r') {
                out += buf[i];
            }
        }
    }
    ASSERT_EQ(::pclose(pipe), 0) << out;
    EXPECT_NE(out.find("00:00:02,000 --> 00:00:03,000\nFirst\nSecond\nline\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("3\n00:00:03,000 --> 00:00:04,000\nSecond\nline\n"), std::string::npos);
}

TEST(TextExportHeader, FollowsTheOutputRateElseNamesTheInputRate) {
    script::TimingSettings t;
    t.rate_in = 23976;
    for (auto [rate, header] : {std::pair{30000, "*Timecode type: SMPTE nondrop"},
                                {29970, "*Timecode type: SMPTE drop"},
                                {25000, "*Timecode type: PAL/EBU"},
                                {24000, "*Timecode is: 23.976 fps"}}) {
        t.rate_out = rate;
        EXPECT_EQ(timecode_header(t), header);
    }
}

TEST(ChiExport, OneLinePerEntryWithLineBreaksAsBackslashN) {
    auto s = load({{"0:00:01.00", "0:00:02.00", "Hi\\Nthere", "Bob"}});
    base::RecordingMessages messages;
    const TextExport r = run(*s, TextExportKind::Chi, messages);
    ASSERT_EQ(r.status, ExportStatus::Done);
    EXPECT_EQ(r.bytes, "*Timecode type: PAL/EBU\r\n00:00:01:00,00:00:02:00,Bob,Hi\\nthere\r\n");
}

TEST(DialogueExport, AlignsTextColumnsAndSortsEntriesByStart) {
    auto s = load({{"0:00:01.00", "0:00:02.00", "One\\NTwo", "A"},
                   {"0:00:03.00", "0:00:04.00", "Three", "Bob"},
                   // Absolute times win over the event's own, and ABSOLUTEOUT is the last frame.
                   {"0:00:05.00", "0:00:06.00", "Early", "",
                    "ABSOLUTEIN=00:00:00:10;ABSOLUTEOUT=00:00:00:20"},
                   // Ends before it starts: left out.
                   {"0:00:05.00", "0:00:06.00", "Gone", "",
                    "ABSOLUTEIN=00:00:09:00;ABSOLUTEOUT=00:00:08:00"}});
    base::RecordingMessages messages;
    const TextExport r = run(*s, TextExportKind::Dialogue, messages);
    ASSERT_EQ(r.status, ExportStatus::Done);
    EXPECT_EQ(r.entries, 3);
    EXPECT_EQ(r.bytes,
              "*Timecode type: PAL/EBU\r\n"
              "\r\n00:00:00:10 00:00:00:21     Early\r\n"
              "\r\n00:00:01:00 00:00:02:00 A   One\r\n" +
                  std::string(28, ' ') + "Two\r\n" + "\r\n00:00:03:00 00:00:04:00 Bob Three\r\n");

    auto empty = load({});
    EXPECT_EQ(run(*empty, TextExportKind::Dialogue, messages).status, ExportStatus::Failed);
    EXPECT_EQ(run(*empty, TextExportKind::Chi, messages).status, ExportStatus::Failed);
    EXPECT_EQ(messages.texts().back(), kNoSubtitlesParsedText);
}

TEST(DialogueExport, FilmFeetCountFromTheOffsetAtTwentyFourAndThirtyFps) {
    TextExportOptions film;
    film.film_offset = default_film_offset();
    for (auto [rate, in_label, feet] :
         {std::tuple{u"24", "01:00:01:16", "000002.08"}, {u"30", "01:00:00:25", "000001.04"}}) {
        auto s = load({{"0:00:05.00", "0:00:06.00", "Film", "",
                        std::string("ABSOLUTEIN=") + in_label + ";ABSOLUTEOUT=01:00:02:00"}});
        set_rates(*s, rate, rate);
        base::RecordingMessages messages;
        const TextExport r = run(*s, TextExportKind::Dialogue, messages, film);
        ASSERT_EQ(r.status, ExportStatus::Done) << messages.texts().front();
        // No header; two seconds and one frame is foot 3, frame 1 either way.
        EXPECT_EQ(r.bytes, std::string("\r\n") + feet + "   000003.01    Film\r\n");
    }
    for (auto [rate, drop] : {std::pair{u"25", false}, {u"29.97", true}}) {
        auto s = load({{"0:00:01.00", "0:00:02.00", "Film"}});
        set_rates(*s, u"25", rate, drop);
        base::RecordingMessages messages;
        EXPECT_EQ(run(*s, TextExportKind::Dialogue, messages, film).status, ExportStatus::Failed);
        EXPECT_EQ(messages.texts(), std::vector<std::string>{kFilmRateText});
    }
}

TEST(CaptionsIncExport, RefusesRatesOtherThanPalNtscDropAndThirty) {
    auto s = load({{"0:00:01.00", "0:00:02.00", "Hi"}});
    for (auto [rate, drop, text] : {std::tuple{u"23.976", false, kInvalidTimecodeTypeText},
                                    {u"29.97", false, kNtscNonDropRateText}}) {
        set_rates(*s, u"25", rate, drop);
        base::RecordingMessages messages;
        EXPECT_EQ(run(*s, TextExportKind::CaptionsInc, messages).status, ExportStatus::Failed);
        EXPECT_EQ(messages.texts(), std::vector<std::string>{text});
    }
    for (auto [rate, drop, header] : {std::tuple{u"29.97", true, "*Timecode type: SMPTE drop"},
                                      {u"30", false, "*Timecode type: SMPTE nondrop"}}) {
        set_rates(*s, u"25", rate, drop);
        base::RecordingMessages messages;
        const TextExport r = run(*s, TextExportKind::CaptionsInc, messages);
        ASSERT_EQ(r.status, ExportStatus::Done);
        EXPECT_EQ(r.bytes.rfind(std::string(header) + "\r\n\r\n", 0), 0u) << r.bytes;
    }
}

TEST(CaptionsIncExport, ColourCodesItalicsAndNames) {
    auto s = load({{"0:00:01.00", "0:00:02.00",
                    "{\\c&H00FFFF&}yellow\\N{\\c&H404040&}grey\\N{\\c&HFF0000&}blue"},
                   {"0:00:03.00", "0:00:04.00", "{\\i1}Hello{\\i0} world", "Bob"}});
    base::RecordingMessages messages;
    TextExport r = run(*s, TextExportKind::CaptionsInc, messages);
    ASSERT_EQ(r.status, ExportStatus::Done);
    EXPECT_EQ(r.bytes,
              "*Timecode type: PAL/EBU\r\n\r\n"
              "00:00:01:00 00:00:02:00\r\n{9 [5 yellow\r\n{A [1 grey\r\n{B [8 blue\r\n\r\n"
              "00:00:03:00 00:00:04:00\r\n{B [1 <Hello> world\r\n\r\n");
    EXPECT_EQ(r.notes, std::vector<std::string>{"00:00:01:00 00:00:02:00 : " +
                                                std::string(kInvalidColourText)});

    // With names the lines carry the actor instead of a row and a colour.
    s->settings.compatible |= 0x10;
    r = run(*s, TextExportKind::CaptionsInc, messages);
    EXPECT_NE(r.bytes.find("\r\n[Bob]       <Hello> world\r\n"), std::string::npos) << r.bytes;
    EXPECT_NE(r.bytes.find("\r\n[]          yellow\r\n"), std::string::npos);
    EXPECT_TRUE(r.notes.empty());

    // A second character set is reported once, on the first subtitle that shows it.
    auto mixed = load({{"0:00:01.00", "0:00:02.00", "plain {\\fe161}word"},
                       {"0:00:03.00", "0:00:04.00", "{\\fe161}again"}});
    r = run(*mixed, TextExportKind::CaptionsInc, messages);
    EXPECT_EQ(r.notes, std::vector<std::string>{"00:00:01:00 00:00:02:00 : " +
                                                std::string(kMixedCodePagesText)});
}

TEST(CaptionsIncExport, BottomSubtitlesStackUpwardsAndOverflowIsReported) {
    std::vector<Ev> events;
    for (const char* name : {"One", "Two", "Three", "Four", "Five", "Six", "Seven"}) {
        events.push_back({"0:00:01.00", "0:00:02.00", std::string(name) + " a\\N" + name + " b"});
    }
    auto three = load({events.begin(), events.begin() + 3});
    base::RecordingMessages messages;
    TextExport r = run(*three, TextExportKind::CaptionsInc, messages);
    ASSERT_EQ(r.status, ExportStatus::Done);
    EXPECT_EQ(r.bytes,
              "*Timecode type: PAL/EBU\r\n\r\n00:00:01:00 00:00:02:00\r\n"
              "{6 [1 Three a\r\n{7 [1 Three b\r\n{8 [1 Two a\r\n{9 [1 Two b\r\n"
              "{A [1 One a\r\n{B [1 One b\r\n\r\n");

    // Six two-line subtitles fill the screen; the seventh is written after the rows.
    auto seven = load(events);
    r = run(*seven, TextExportKind::CaptionsInc, messages);
    ASSERT_EQ(r.status, ExportStatus::Done);
    EXPECT_NE(r.bytes.find("{0 [1 Six a\r\n{1 [1 Six b\r\n{2 [1 Five a\r\n"), std::string::npos);
    EXPECT_NE(r.bytes.find("{B [1 One b\r\n[1 Seven a\r\n[1 Seven b\r\n\r\n"), std::string::npos)
        << r.bytes;
    EXPECT_EQ(r.notes, std::vector<std::string>{
                           "00:00:01:00 00:00:02:00 : some subtitles couldn't be properly placed"});
}

TEST(CaptionsIncExport, ManualPositionsChooseTheirRowAndKeepItFreeWhileShown) {
    auto s = load({// Placed first, low on the screen: the bottom row.
                   {"0:00:01.00", "0:00:02.00", "Manual", "", "POSX=360;POSY=440"},
                   // Placed later, in its last slice, where the manual one is gone: its row must
                   // still avoid the bottom one, which they share in the first slice.
                   {"0:00:01.00", "0:00:03.00", "Auto"},
                   // Centred on the middle of the screen.
                   {"0:00:05.00", "0:00:06.00", "Middle", "", "POSX=360;POSY=258;SNAPY=1"}});
    base::RecordingMessages messages;
    const TextExport r = run(*s, TextExportKind::CaptionsInc, messages);
    ASSERT_EQ(r.status, ExportStatus::Done) << messages.texts().front();
    EXPECT_EQ(r.bytes,
              "*Timecode type: PAL/EBU\r\n\r\n"
              "00:00:01:00 00:00:02:00\r\n{A [1 Auto\r\n{B [1 Manual\r\n\r\n"
              "00:00:02:00 00:00:03:00\r\n{A [1 Auto\r\n\r\n"
              "00:00:05:00 00:00:06:00\r\n{6 [1 Middle\r\n\r\n");
}

TEST(TextExportBytes, OneBytePerCharacterAndUnstorableCharactersAreReported) {
    // An 8-bit script's bytes are written as they were read.
    auto latin = load({{"0:00:01.00", "0:00:02.00", "caf\xE9"}});
    base::RecordingMessages messages;
    EXPECT_NE(run(*latin, TextExportKind::Chi, messages).bytes.find(",caf\xE9\r\n"),
              std::string::npos);

    // A Unicode script goes through the system code page; what it cannot hold becomes '?'.
    auto wide = load({{"0:00:01.00", "0:00:02.00", "caf\xC3\xA9 \xE6\x97\xA5"}}, true);
    ASSERT_TRUE(wide->settings.unicode);
    test::TempDir dir;
    const std::string path = dir.file("t.srt").string();
    TextExport r;
    ASSERT_EQ(export_text(*wide, TextExportKind::Srt, path, {}, messages, &r), ExportStatus::Done);
    EXPECT_EQ(test::read_file(path), "1\r\n00:00:01,000 --> 00:00:02,000\r\ncaf\xE9 ?\r\n\r\n");
    ASSERT_FALSE(messages.messages().empty());
    EXPECT_EQ(messages.messages().back().kind, base::MessageKind::Warn);
    EXPECT_EQ(messages.texts().back(),
              notes_heading(TextExportKind::Srt) +
                  "\r\n00:00:01:00 00:00:02:00 : characters the file's code page cannot hold "
                  "were written as '?'");

    // No file, no partial file: the failure is reported.
    messages.clear();
    EXPECT_EQ(
        export_text(*wide, TextExportKind::Srt, dir.file("no/such/dir.srt").string(), {}, messages),
        ExportStatus::Failed);
    ASSERT_FALSE(messages.messages().empty());
    EXPECT_EQ(messages.messages().front().kind, base::MessageKind::Error);
}

}  // namespace
}  // namespace tessara::formats
