#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "test_support.h"

namespace tessara::test {
namespace {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the real program with the arguments (already shell-quoted where needed).
RunResult run(const std::string& args) {
    TempDir dir;
    const auto out = dir.file("out.txt");
    const auto err = dir.file("err.txt");
    std::string cmd = std::string("'") + TESSARA_CLI + "' " + args + " >'" + out.string() +
                      "' 2>'" + err.string() + "' </dev/null";
    int raw = std::system(cmd.c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = read_file(out);
    r.err = read_file(err);
    return r;
}

std::string demo() {
    return std::string("'") + TESSARA_SOURCE_DIR + "/samples/demo.ssa'";
}

TEST(Cli, InfoSummarisesTheDemoScript) {
    auto r = run("info " + demo());
    ASSERT_EQ(r.status, 0) << r.err;
    // The main window's summary, field by field; the paths are as the script names them.
    const std::string dir = std::string(TESSARA_SOURCE_DIR) + "/samples/demo";
    EXPECT_EQ(r.out, "Output script: " + dir +
                         ".son\n"
                         "Output palette file: " +
                         dir +
                         ".spf\n"
                         "Output bitmap files: " +
                         dir +
                         "_NNNN.bmp\n"
                         "Honour palette from: none\n"
                         "Script format: DVD Maestro (.son)\n"
                         "Bitmap format: Windows BMP 4 bits\n"
                         "Colours allowed: 2 text, 1 outline\n"
                         "Sticky colours: yes\n"
                         "Line spacing: 100%\n"
                         "Word wrap: balanced\n"
                         "Code page: use style's\n"
                         "Output resolution: 720 x 576 (minus 2)\n"
                         "FPS in: 25\n"
                         "FPS out: 25\n"
                         "Frame type: non drop\n");
    EXPECT_EQ(r.err, "");  // the demo's settings block is complete: no count warning
}

TEST(Cli, InfoJsonListsSettingsStylesAndEventsWithFrames) {
    auto r = run("info --json " + demo());
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* needle :
         {"\"source\":", "\"unicode\": false", "\"ResY\": 576", "\"BWWrap\": true",
          "\"StyleOrder\": [", "\"name\": \"Sign\"", "\"priority\": 8", "\"code_page\": 1252",
          "\"start_frame\": 30", "\"stop_frame\": 100", "\"blink\": true",
          "\"text\": \"SAINT-ANNE LIGHTHOUSE\\n1868\""}) {
        EXPECT_NE(r.out.find(needle), std::string::npos) << needle;
    }
}

TEST(Cli, SetChangesASettingAfterLoading) {
    auto r = run("--set ResX=1280 --set FPSin=29.97 info --json " + demo());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"ResX\": 1280"), std::string::npos);
    EXPECT_NE(r.out.find("\"FPSin\": \"29.97\""), std::string::npos);
}

TEST(Cli, BadSetValuesAreUsageErrorsNamingTheKey) {
    auto bad_value = run("--set ResX=20000 info " + demo());
    EXPECT_EQ(bad_value.status, 2);
    EXPECT_NE(bad_value.err.find("ResX"), std::string::npos) << bad_value.err;
    auto unknown = run("--set Frobnicate=1 info " + demo());
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("Frobnicate"), std::string::npos);
    EXPECT_EQ(run("--set ResX info " + demo()).status, 2);
    EXPECT_EQ(run("info").status, 2);
    EXPECT_EQ(run("explode " + demo()).status, 2);
    EXPECT_EQ(run("").status, 2);
}

TEST(Cli, LoadFailuresExitWithOneAndTheMessage) {
    TempDir dir;
    const std::string none = dir.file("none.ssa").string();
    auto missing = run("generate '" + none + "'");
    EXPECT_EQ(missing.status, 1);
    // The file is named, as command-line tools name it.
    EXPECT_EQ(missing.err, "error: " + none + ": No such file or directory\n");
    auto old_settings = run("info '" + dir.file("gone.TSRACONF").string() + "'");
    EXPECT_EQ(old_settings.status, 1);
    EXPECT_NE(old_settings.err.find(dir.file("gone.TSRACONF").string() +
                                    ": This is not a valid configuration file"),
              std::string::npos)
        << old_settings.err;

    write_file(dir.file("notes.txt"), "just some notes\nnothing here\n");
    auto not_ssa = run("info '" + dir.file("notes.txt").string() + "'");
    EXPECT_EQ(not_ssa.status, 1);
    EXPECT_NE(not_ssa.err.find("error: No styles where found."), std::string::npos);
}

TEST(Cli, HelpDescribesTheCommands) {
    auto r = run("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("info SCRIPT [--json]"), std::string::npos);
    EXPECT_NE(r.out.find("--set KEY=VALUE"), std::string::npos);
    EXPECT_EQ(run("--version").out, "tessara " TESSARA_VERSION "\n");

    // Every command has its own usage, with its options and an example, whichever side of the
    // command --help stands.
    const std::pair<const char*, const char*> commands[] = {
        {"info", "--json"},          {"generate", "--no-bitmaps"},
        {"save", "--output"},        {"tool", "--fps RATE"},
        {"timeline", "--json"},      {"render", "--subpicture N"},
        {"export", "--film-offset"}, {"check-segments", "--distance N"},
        {"feed", "--dont-check-fr"},
    };
    for (auto [command, option] : commands) {
        SCOPED_TRACE(command);
        auto help = run(std::string(command) + " --help");
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind(std::string("usage: tessara ") + command, 0), 0u) << help.out;
        EXPECT_NE(help.out.find(option), std::string::npos);
        EXPECT_NE(help.out.find("Example"), std::string::npos);
        EXPECT_EQ(run(std::string("-h ") + command).out, help.out);
    }
    EXPECT_EQ(run("tool snap --help").out, run("tool --help").out);
}

TEST(Cli, UsageErrorsEndWithTheCommandsSynopsis) {
    auto unknown_option = run("timeline " + demo() + " --frobnicate");
    EXPECT_EQ(unknown_option.status, 2);
    EXPECT_EQ(unknown_option.err,
              "tessara: timeline: unknown option --frobnicate\n"
              "usage: tessara timeline SCRIPT [--json]\n"
              "Run 'tessara timeline --help' for more.\n");
    auto unknown_command = run("explode");
    EXPECT_EQ(unknown_command.status, 2);
    EXPECT_EQ(unknown_command.err.rfind("tessara: unknown command 'explode'\nusage: tessara ", 0),
              0u)
        << unknown_command.err;
    auto global = run("--frobnicate info " + demo());
    EXPECT_EQ(global.status, 2);
    EXPECT_EQ(global.err.rfind("tessara: unknown option --frobnicate\n", 0), 0u);
}

}  // namespace
}  // namespace tessara::test

namespace tessara::test {
namespace {

// A small 8-bit script with straight quotes and times between frames.
const char* const kToolScript =
    "[Script Info]\r\nScriptType: v4.00\r\n\r\n[V4 Styles]\r\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
    "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
    "MarginV, AlphaLevel, Encoding\r\n"
    "Style: Default,Arial,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n\r\n[Events]\r\n"
    "Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n"
    "Dialogue: Marked=0,0:00:00.05,0:00:01.02,Default,,0000,0000,0000,,He said \"caf\xE9\"\r\n";

TEST(Cli, SaveWritesACopyOrInPlaceWithTheChangedSettings) {
    TempDir dir;
    write_file(dir.file("a.ssa"), kToolScript);
    const std::string a = "'" + dir.file("a.ssa").string() + "'";
    const std::string b = "'" + dir.file("b.ssa").string() + "'";
    auto r = run("save " + a + " -o " + b);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("a.ssa")), kToolScript);
    const std::string copy = read_file(dir.file("b.ssa"));
    EXPECT_NE(copy.find("TSRACONF: "), std::string::npos);
    EXPECT_NE(copy.find("He said \"caf\xE9\"\r\n"), std::string::npos);

    r = run("--set ResX=640 save " + a);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(read_file(dir.file("a.ssa")).find("ResX=640"), std::string::npos);

    r = run("save " + a + " -o '" + dir.file("none/c.ssa").string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("error: Error opening "), std::string::npos) << r.err;
}

TEST(Cli, ToolsThatAskDoNothingWithoutYes) {
    TempDir dir;
    write_file(dir.file("a.ssa"), kToolScript);
    const std::string a = "'" + dir.file("a.ssa").string() + "'";
    auto r = run("tool unicode " + a);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("This operation cannot be undone. Are you sure?"), std::string::npos);
    EXPECT_EQ(read_file(dir.file("a.ssa")), kToolScript);

    r = run("--yes tool unicode " + a);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string converted = read_file(dir.file("a.ssa"));
    EXPECT_EQ(converted.substr(0, 2), "\xFF\xFE");
    EXPECT_NE(converted.find(std::string("c\0a\0f\0\xE9\0", 8)), std::string::npos);

    r = run("tool quotes " + a);
    EXPECT_EQ(r.status, 1);
    r = run("--yes tool quotes " + a);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(read_file(dir.file("a.ssa")).find(std::string("\x1C\x20", 2)), std::string::npos);
}

TEST(Cli, SnapMovesTimesToFrameStarts) {
    TempDir dir;
    write_file(dir.file("a.ssa"), kToolScript);
    const std::string a = "'" + dir.file("a.ssa").string() + "'";
    EXPECT_EQ(run("tool snap " + a).status, 1);  // no rate given and none in the script
    auto r = run("tool snap " + a + " --fps 25");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(read_file(dir.file("a.ssa")).find("Marked=0,0:00:00.08,0:00:01.04,"),
              std::string::npos);
    EXPECT_EQ(run("tool snap " + a + " --fps 0").status, 1);
    EXPECT_EQ(run("tool bogus " + a).status, 2);
}

}  // namespace
}  // namespace tessara::test

namespace tessara::test {
namespace {

uint32_t be32(const std::string& s, size_t at) {
    return (static_cast<uint32_t>(static_cast<unsigned char>(s[at])) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3]));
}

TEST(Cli, RenderDrawsOneEventAsAPng) {
    TempDir dir;
    const std::string png = dir.file("ev.png").string();
    auto r = run("render " + demo() + " --event 2 -o '" + png + "' --scale 2");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string bytes = read_file(png);
    ASSERT_GT(bytes.size(), 33u);
    EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1A\n");
    // "event 2: W x H pixels, 3 lines -> ..." and the PNG is twice that size.
    unsigned w = 0, h = 0, lines = 0;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "event 2: %u x %u pixels, %u lines", &w, &h, &lines), 3)
        << r.out;
    EXPECT_EQ(lines, 3u);  // a hard break, then a second line too long for the frame
    EXPECT_EQ(be32(bytes, 16), 2 * w);
    EXPECT_EQ(be32(bytes, 20), 2 * h);

    EXPECT_EQ(run("render " + demo() + " --event 99 -o '" + png + "'").status, 1);
    EXPECT_EQ(run("render " + demo() + " -o '" + png + "'").status, 2);
    EXPECT_EQ(run("render " + demo() + " --event 1 -o '" + png + "' --scale 0").status, 2);
}

}  // namespace
}  // namespace tessara::test

namespace tessara::test {
namespace {

TEST(Cli, TimelineListsSubpicturesWithTheirMembers) {
    auto r = run("timeline --json " + demo());
    ASSERT_EQ(r.status, 0) << r.err;
    // The demo's first two dialogue lines overlap: subpicture 3 holds both, and the one shown
    // first stays above the newcomer (collision foresee) from its first subpicture on.
    for (const char* needle : {"\"number\": 3", "\"start\": \"00:00:07:05\"",
                               "\"stop\": \"00:00:07:20\"", "\"event\": 1", "\"event\": 2"}) {
        EXPECT_NE(r.out.find(needle), std::string::npos) << needle;
    }
    auto text = run("timeline " + demo());
    ASSERT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("#15  00:00:23:10 - 00:00:26:00"), std::string::npos) << text.out;
}

// An ASS script is refused by the commands that read scripts, with the way to import it; the
// import writes a script they read and reports what it left out.
TEST(Cli, AnAssScriptIsRefusedAndImported) {
    TempDir dir;
    const std::string ass = "'" + dir.file("ep.ass").string() + "'";
    write_file(dir.file("ep.ass"),
               "[Script Info]\nPlayResY: 480\n[V4+ Styles]\nFormat: Name, Fontname, Fontsize\n"
               "Style: Default,Arial,30\n[Events]\nFormat: Layer, Start, End, Style, Text\n"
               "Dialogue: 0,0:00:01.00,0:00:02.00,Default,{\\pos(1,2)}Hello\n");
    for (const char* command : {"info ", "generate ", "timeline ", "export srt -o x.srt "}) {
        auto refused = run(command + ass);
        EXPECT_EQ(refused.status, 1) << command;
        EXPECT_NE(refused.err.find("tessara import SCRIPT.ass -o SCRIPT.ssa"), std::string::npos)
            << refused.err;
    }
    auto imported = run("import " + ass);
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_NE(imported.out.find("  \\pos: 1 event (1)\n"), std::string::npos) << imported.out;
    auto info = run("info --json '" + dir.file("ep.ssa").string() + "'");
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("\"text\": \"Hello\""), std::string::npos) << info.out;
    EXPECT_EQ(run("import " + ass).status, 1);  // ep.ssa exists: not replaced without --yes
    EXPECT_EQ(run("--yes import --utf8 " + ass).status, 0);
    EXPECT_EQ(run("import --code-page 99999 " + ass).status, 2);
}

TEST(Cli, TimelineMarksMembersLargerThanTheFrameAsCut) {
    TempDir dir;
    write_file(dir.file("a.ssa"),
               "[V4 Styles]\r\nStyle: Default,Arial,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n"
               "Style: Huge,Arial,200,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n"
               "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
               "Effect, Text\r\n"
               "Dialogue: Marked=0,0:00:01.00,0:00:03.00,Default,,0,0,0,,fits\r\n"
               "Dialogue: Marked=0,0:00:02.00,0:00:04.00,Huge,,0,0,0,,Lighthousekeeper\r\n");
    auto r =
        run("--set FPSin=25 --set FPSout=25 timeline --json '" + dir.file("a.ssa").string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    // Subpicture 2 shows both: the small one first, the huge one after it.
    const size_t second = r.out.find("\"number\": 2");
    ASSERT_NE(second, std::string::npos) << r.out;
    const size_t fits = r.out.find("\"cut\": false", second);
    const size_t cut = r.out.find("\"cut\": true", second);
    EXPECT_LT(fits, cut) << r.out;
    EXPECT_NE(cut, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\"cut\": true"), r.out.find("\"cut\": true", second)) << r.out;
    auto text = run("--set FPSin=25 --set FPSout=25 timeline '" + dir.file("a.ssa").string() + "'");
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("    event 1 at ("), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(", cut\n"), std::string::npos) << text.out;
}

TEST(Cli, RenderDrawsAComposedSubpictureAtFullSize) {
    TempDir dir;
    const std::string png = dir.file("sp.png").string();
    auto r = run("render " + demo() + " --at 00:00:18:10 -o '" + png + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("subpicture 9 (00:00:18:00, 2 subtitles)"), std::string::npos) << r.out;
    const std::string bytes = read_file(png);
    ASSERT_GT(bytes.size(), 24u);
    auto be32 = [&](size_t at) {
        return (static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) << 24) |
               (static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
               (static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
               static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
    };
    EXPECT_EQ(be32(16), 720u);       // ResX
    EXPECT_EQ(be32(20), 576u - 2u);  // ResY less Minus2
    EXPECT_EQ(run("render " + demo() + " --at 00:00:15:10 -o '" + png + "'").status, 1);
    EXPECT_EQ(run("render " + demo() + " --subpicture 16 -o '" + png + "'").status, 1);
    EXPECT_EQ(run("render " + demo() + " --subpicture 1 --event 1 -o '" + png + "'").status, 2);
}

TEST(Cli, SeparateEndsTouchingSubtitlesOneFrameEarlier) {
    TempDir dir;
    write_file(dir.file("a.ssa"),
               "[V4 Styles]\r\nStyle: Default,Arial,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n"
               "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
               "Effect, Text\r\n"
               "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,one\r\n"
               "Dialogue: Marked=0,0:00:02.00,0:00:03.00,Default,,0,0,0,,two\r\n");
    const std::string a = "'" + dir.file("a.ssa").string() + "'";
    auto r = run("--set FPSin=25 --set FPSout=25 tool separate " + a);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("1 titles were changed."), std::string::npos) << r.err;
    EXPECT_NE(read_file(dir.file("a.ssa")).find("Marked=0,0:00:01.00,0:00:01.96,"),
              std::string::npos);
    // The frame rates were saved into the script with the change; a second run finds nothing.
    r = run("tool separate " + a);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("No titles were changed."), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tessara::test

namespace tessara::test {
namespace {

TEST(Cli, GenerateConvertsTheDemoAndFollowsTheScriptType) {
    TempDir dir;
    const std::string out = dir.file("demo.son").string();
    auto r = run("--quiet generate " + demo() + " -o '" + out + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("wrote 15 subpictures with 15 bitmaps"), std::string::npos) << r.out;
    EXPECT_TRUE(std::filesystem::exists(dir.file("demo_0015.bmp")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("demo.spf")));
    EXPECT_NE(read_file(dir.file("demo.son")).find("0015\t00:00:23:10\t00:00:26:00\tdemo_0015.bmp"),
              std::string::npos);

    auto sst = run("--quiet --set ScrType=SST generate " + demo() + " -o '" +
                   dir.file("demo.sst").string() + "' --no-bitmaps");
    ASSERT_EQ(sst.status, 0) << sst.err;
    EXPECT_NE(sst.out.find("(no bitmaps)"), std::string::npos);
    EXPECT_NE(read_file(dir.file("demo.sst")).find("Subtitle\tdemo\r\n"), std::string::npos);
    EXPECT_EQ(run("generate " + demo() + " --bogus").status, 2);
}

}  // namespace
}  // namespace tessara::test

namespace tessara::test {
namespace {

// verify finds its source script three ways and exits 0 only when everything matches.
TEST(Cli, VerifyComparesTheOutputWithAFreshRun) {
    TempDir dir;
    const std::string script = dir.file("film.ssa").string();
    const std::string out = dir.file("film.son").string();
    ASSERT_EQ(run("--quiet --set OutputFile='" + out + "' save " + demo() + " -o '" + script + "'")
                  .status,
              0);
    ASSERT_EQ(run("--quiet generate '" + script + "'").status, 0);

    for (const std::string& args : {"verify '" + out + "' --script '" + script + "'",
                                    "verify '" + script + "'", "verify '" + out + "'"}) {
        auto r = run("--quiet " + args);
        EXPECT_EQ(r.status, 0) << args << "\n" << r.out << r.err;
        EXPECT_EQ(r.out, "1 script, 15 subpictures, 15 pictures checked: all match\n") << args;
    }

    std::filesystem::remove(dir.file("film_0015.bmp"));
    auto broken = run("--quiet verify '" + out + "'");
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.out.find("film.son line "), std::string::npos) << broken.out;
    EXPECT_NE(broken.out.find(", subpicture 15: film_0015.bmp is missing\n"), std::string::npos)
        << broken.out;
    EXPECT_NE(broken.out.find("14 pictures checked: 1 mismatch\n"), std::string::npos);

    std::filesystem::remove(script);
    auto lost = run("--quiet verify '" + out + "'");
    EXPECT_EQ(lost.status, 1);
    EXPECT_NE(lost.err.find("No script beside " + out + " names it as its output file"),
              std::string::npos)
        << lost.err;
    EXPECT_EQ(run("verify").status, 2);
}

TEST(Cli, ExportWritesTextListsAndFilmFeetOnlyAtFilmRates) {
    TempDir dir;
    const std::string srt = dir.file("demo.srt").string();
    auto r = run("--quiet export srt " + demo() + " -o '" + srt + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("wrote 15 entries to"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(srt).rfind(
                  "1\r\n00:00:01,200 --> 00:00:04,000\r\nSAINT-ANNE LIGHTHOUSE\r\n1868\r\n\r\n", 0),
              0u);

    // The demo runs at 25 fps: no film feet.
    const std::string film = dir.file("film.txt").string();
    auto refused = run("export film " + demo() + " -o '" + film + "'");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("24.000 or 30.000"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(film));
    auto at24 = run("--quiet --set FPSin=24 --set FPSout=24 export film " + demo() + " -o '" +
                    film + "' --film-offset 00:00:00:00");
    ASSERT_EQ(at24.status, 0) << at24.err;
    EXPECT_EQ(
        read_file(film).rfind("\r\n000001.13   000006.00          SAINT-ANNE LIGHTHOUSE\r\n", 0),
        0u);

    EXPECT_EQ(run("export film " + demo() + " -o '" + film + "' --film-offset 1:00").status, 2);
    EXPECT_EQ(run("export srt " + demo() + " -o '" + srt + "' --film-offset 00:00:00:00").status,
              2);
    EXPECT_EQ(run("export vtt " + demo() + " -o '" + srt + "'").status, 2);
    EXPECT_EQ(run("export srt " + demo()).status, 2);
}

TEST(Cli, CheckSegmentsPrintsTheReport) {
    auto r = run("--set DVDSeg=00:00:00:00/00:00:15:00 --set DVDSeg=00:00:07:10 check-segments " +
                 demo() + " --distance 5");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Segments analyzed:\n\nSegment range from 00:00:00:00 to 00:00:15:00\n"
                          "Chapter point at 00:00:07:10\n\nErrors found:\n\n",
                          0),
              0u)
        << r.out;
    EXPECT_NE(r.out.find("Error: 00:00:04:13 - 00:00:07:19 text = [You left the lamp burning "
                         "again.]\n"),
              std::string::npos);
    auto none = run("check-segments " + demo());
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("No segments have been defined"), std::string::npos);
    EXPECT_EQ(run("check-segments " + demo() + " --distance five").status, 2);
}

}  // namespace
}  // namespace tessara::test

namespace tessara::test {
namespace {

// Events without text (empty, or only override blocks) are in real films. Every command that
// builds the subpictures takes them as drawing nothing, and its output is the one it gives for the
// script without them.
TEST(Cli, EventsWithoutTextAreBuiltAsNothingToDraw) {
    TempDir dir;
    std::string text = read_file(std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa");
    write_file(dir.file("plain.ssa"), text);
    // At the end of the file, so that the other events keep their numbers.
    text +=
        "Dialogue: Marked=0,0:00:05.00,0:00:09.00,*Default,,0000,0000,0000,,\n"
        "Dialogue: Marked=0,0:00:15.30,0:00:15.90,*Sign,,0000,0000,0000,,{\\pos(10,10)}\n"
        "Dialogue: Marked=0,0:00:20.00,0:00:22.00,*Song,,0000,0000,0000,,{\\i1} {\\b1}\n";
    write_file(dir.file("with.ssa"), text);

    auto both = [&](const std::string& command, const std::string& out = "") {
        SCOPED_TRACE(command);
        std::string results[2];
        for (int i = 0; i < 2; ++i) {
            const char* name = i == 0 ? "plain" : "with";
            std::string args = "--quiet " + command + " '" + dir.file(name).string() + ".ssa'";
            if (!out.empty()) {
                args += " -o '" + dir.file(name + out).string() + "'";
            }
            auto r = run(args);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
            results[i] = out.empty() ? r.out : read_file(dir.file(name + out));
        }
        EXPECT_EQ(results[1], results[0]);
    };
    both("timeline --json");
    both("export srt", ".srt");
    both("export captions", ".txt");
    both("render --at 00:00:07:10", ".png");
    both("render --subpicture 4", ".png");

    // A time at which only an event without text is shown shows nothing.
    auto r = run("render '" + dir.file("with.ssa").string() + "' --at 00:00:15:10 -o '" +
                 dir.file("none.png").string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No subtitle is shown at 00:00:15:10."), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tessara::test

namespace tessara::test {
namespace {

// "Tomé" and Cyrillic in a script as editors save it today: UTF-8, with CR LF line ends.
const char* const kUtf8Script =
    "[Script Info]\r\nScriptType: v4.00\r\n\r\n[V4 Styles]\r\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
    "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
    "MarginV, AlphaLevel, Encoding\r\n"
    "Style: Default,Arial,28,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n\r\n[Events]\r\n"
    "Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n"
    "Dialogue: Marked=0,0:00:01.00,0:00:03.00,Default,,0000,0000,0000,,"
    "Tom\xC3\xA9\\N\xD0\x96\xD1\x83\xD0\xBA\r\n";

TEST(Cli, Utf8ScriptsShowTheirTextAndKeepTheirEncoding) {
    TempDir dir;
    const std::map<std::string, std::string> files = {
        {"utf-8", kUtf8Script},
        {"utf-8 mark", std::string("\xEF\xBB\xBF") + kUtf8Script},
        {"utf-16", utf16le_with_bom(kUtf8Script)}};
    const std::string png = dir.file("ev.png").string();
    std::string first_png;
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const auto path = dir.file(name + ".ssa");
        write_file(path, bytes);
        const std::string quoted = "'" + path.string() + "'";

        auto r = run("info --json " + quoted);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string encoding = name.substr(0, name.find(' '));
        for (const std::string& needle :
             {std::string("\"unicode\": true"), "\"encoding\": \"" + encoding + "\"",
              std::string("\"text\": \"Tom\xC3\xA9\\n\xD0\x96\xD1\x83\xD0\xBA\"")}) {
            EXPECT_NE(r.out.find(needle), std::string::npos) << needle << "\n" << r.out;
        }

        // Drawn alike whichever way the file holds the text.
        r = run("render " + quoted + " --event 0 -o '" + png + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(", 2 lines"), std::string::npos) << r.out;
        if (first_png.empty()) {
            first_png = read_file(png);
        } else {
            EXPECT_EQ(read_file(png), first_png);
        }

        // Already Unicode: the conversion has nothing to do and the file is not touched.
        r = run("--yes tool unicode " + quoted);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(path), bytes);

        r = run("save " + quoted);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string saved = read_file(path);
        EXPECT_EQ(saved.substr(0, 3), bytes.substr(0, 3));
        const std::string dialogue = kUtf8Script + std::string(kUtf8Script).find("Dialogue:");
        if (encoding == "utf-8") {
            EXPECT_NE(saved.find(dialogue), std::string::npos) << saved;
        }
    }
    auto r = run("info --json " + demo());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"unicode\": false,\n  \"encoding\": \"8-bit\""), std::string::npos)
        << r.out;
}

}  // namespace
}  // namespace tessara::test
