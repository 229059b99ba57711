#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "robustness_support.h"
#include "test_support.h"

// Every command of the program on scripts made from the bad-input list: broken UTF-16, NULs,
// overlong lines, thousands of tags, absurd numbers, missing fields. Each run must end by
// itself with a status of 0, 1 or 2 (never a crash or a hang), a failure must print its
// message, and no command given an output path may change the script it read.
namespace tessara {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kHeader =
    "[Script Info]\r\nPlayResY: 576\r\n[V4 Styles]\r\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
    "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
    "MarginV, AlphaLevel, Encoding\r\n"
    "Style: Default,DejaVu Sans,24,16777215,0,0,0,0,0,1,2,0,2,30,30,30,0,0\r\n"
    "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, "
    "Text\r\n";
const std::string kSettings =
    "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,TSRACONF: FPSin=25;FPSout=25;"
    "ResX=720;ResY=576;Colors=3\r\n";

std::string dialogue(const std::string& start, const std::string& end, const std::string& text,
                     const std::string& margins = "0,0,0") {
    return "Dialogue: Marked=0," + start + "," + end + ",Default,," + margins + ",," + text +
           "\r\n";
}

struct BadScript {
    std::string name;
    std::string bytes;
};

std::vector<BadScript> bad_scripts() {
    std::vector<BadScript> out;
    {
        // UTF-16: lone surrogates, a NUL in the text, and half a code unit at the end.
        std::string s = test::utf16le_with_bom(kHeader + kSettings);
        const std::string line = test::utf16le_with_bom(
            dialogue("0:00:01.00", "0:00:03.00", "lone ? and ? surrogates, a ? NUL"));
        std::string units = line.substr(2);
        const size_t q1 = units.find(std::string("?\0", 2));
        units.replace(q1, 2, std::string("\x00\xD8", 2));
        const size_t q2 = units.find(std::string("?\0", 2));
        units.replace(q2, 2, std::string("\x00\xDC", 2));
        const size_t q3 = units.find(std::string("?\0", 2));
        units.replace(q3, 2, std::string("\x00\x00", 2));
        out.push_back({"utf16", s + units + "x"});
    }
    out.push_back({"nuls", kHeader + kSettings +
                               dialogue("0:00:01.00", "0:00:03.00", std::string("a\0b\0\0c", 6)) +
                               std::string(300, '\0')});
    out.push_back(
        {"long-line",
         kHeader + kSettings + dialogue("0:00:01.00", "0:00:03.00", std::string(1 << 20, 'x'))});
    {
        std::string tags = "{";
        while (tags.size() < 10150) {
            tags += "\\b1\\fs999";
        }
        out.push_back({"many-tags", kHeader + kSettings +
                                        dialogue("0:00:01.00", "0:00:03.00", tags + "}x") +
                                        dialogue("0:00:02.00", "0:00:04.00", "{\\fs2000}W W W W")});
    }
    out.push_back(
        {"absurd-numbers",
         kHeader +
             "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,TSRACONF: FPSin=0.001;"
             "FPSout=99999;ResX=4800;ResY=4800;Minus2=3;FixedWidth=4800;TabWidth=200;"
             "LineSpacing=2000;CharSpacing=-2000;Compatible=-1;SafeFrm=99;Colors=3;"
             "DVDSeg=99:59:59:99;VGuides=2147483647\r\n"
             "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,TSRASTYLE: Default;"
             "LineSpacing=2147483647;ExtraSpace=-2147483647;ItalicsRight=2147483647;"
             "AAliasAvg=-9;FontFlags=-1\r\n"
             "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,TSRAUSER: "
             "POSX=2147483647;POSY=-2147483648;SNAPX=2;SNAPY=2\r\n" +
             dialogue("-99:59:59.99", "99:59:59.99",
                      "{\\fs99999999999\\c&HFFFFFFFFFFFFFFFFFF&\\a99999999999\\fe300}Big",
                      "2147483647,2147483647,-2147483648") +
             dialogue("0:00:00.00", "99:59:59.99", "{#blink10}{\\i1}blink") +
             "PlayResY: 2147483647\r\n"});
    out.push_back(
        {"absurd-fps", kHeader +
                           "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,TSRACONF: "
                           "FPSin=1e308;FPSout=1000000;DropFrame=1\r\n" +
                           dialogue("0:00:01.00", "0:00:03.00", "x")});
    out.push_back({"missing-fields",
                   "[V4 Styles]\r\nStyle: Default\r\nStyle: A,B\r\nStyle: ,,,,\r\n"
                   "Style: S,Verdana,20\r\n[Events]\r\nDialogue:\r\nDialogue: ,\r\n"
                   "Dialogue: Marked=0,0:00:01.00\r\nDialogue: Marked=0,0:00:01.00,0:00:02.00,S\r\n"
                   "Dialogue: Marked=0,0:00:01.00,0:00:02.00,S,,0,0,0,\r\n"
                   "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Nobody,,0,0,0,,\r\n"});
    out.push_back({"empty", ""});
    out.push_back({"bom-only", "\xFF\xFE"});
    {
        std::string crowd = kHeader + kSettings;
        for (int i = 0; i < 300; ++i) {
            crowd += dialogue(
                "0:00:01.00", "0:00:09.00",
                "{\\c&H" + std::to_string(i * 7919 % 0xFFFFFF) + "&}crowd " + std::to_string(i));
        }
        out.push_back({"crowd", crowd});
    }
    return out;
}

struct RunResult {
    int status = -1;
    double seconds = 0;
};

RunResult run(const std::string& args, const fs::path& dir) {
    const std::string cmd = "cd '" + dir.string() + "' && exec timeout -s KILL 120 '" +
                            TESSARA_CLI + "' --yes --quiet " + args + " >/dev/null 2>'" +
                            (dir / "stderr.txt").string() + "' </dev/null";
    const auto t0 = Clock::now();
    const int raw = std::system(cmd.c_str());
    RunResult r;
    r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

TEST(CliBadInput, EveryCommandEndsCleanly) {
    const std::vector<std::string> commands = {
        "info in.ssa",
        "info in.ssa --json",
        "timeline in.ssa --json",
        "save in.ssa -o saved.ssa",
        "generate in.ssa -o out/film.son",
        "--set ScrType=SST --set ImgType=tgarle generate in.ssa -o out/film.sst",
        "--set ScrType=USF --set ImgType=uyc generate in.ssa -o out/film.usf",
        "render in.ssa --event 0 -o event.png --scale 16",
        "render in.ssa --subpicture 1 -o sub.png",
        "render in.ssa --at 00:00:02:00 -o at.png",
        "export srt in.ssa -o out.srt",
        "export film in.ssa -o out.txt --film-offset 99:59:59:29",
        "tool snap in.ssa --fps 0.5 -o snapped.ssa",
        "tool quotes in.ssa -o quoted.ssa",
        "tool unicode in.ssa -o unicode.ssa",
        "tool separate in.ssa -o separated.ssa",
        "check-segments in.ssa --distance 99",
    };
    for (const BadScript& script : bad_scripts()) {
        test::TempDir dir;
        test::write_file(dir.file("in.ssa"), script.bytes);
        fs::create_directory(dir.file("out"));
        for (const std::string& command : commands) {
            SCOPED_TRACE(script.name + ": tessara " + command);
            const RunResult r = run(command, dir.path());
            EXPECT_TRUE(r.status == 0 || r.status == 1 || r.status == 2)
                << "status " << r.status << "\n"
                << test::read_file(dir.file("stderr.txt"));
            EXPECT_LT(r.seconds, 60.0);
            // A failed operation says why.
            if (r.status == 1) {
                EXPECT_NE(test::read_file(dir.file("stderr.txt")).find("error: "),
                          std::string::npos);
            }
            ASSERT_EQ(test::read_file(dir.file("in.ssa")), script.bytes);
        }
    }
}

}  // namespace
}  // namespace tessara
