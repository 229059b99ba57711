#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/text.h"
#include "output/generation.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "test_support.h"

// What the tests of the DVD subpicture targets (spumux, VobSub) share: a small script, a run,
// the outside tools, and pictures placed in the frame for comparing.
namespace tessara::test::dvd {

namespace fs = std::filesystem;
using output::GenerationOptions;
using output::GenerationSummary;
using output::run_generation;

inline bool have(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string run(const std::string& command, int* status = nullptr) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    std::string out;
    char buf[4096];
    while (size_t n = std::fread(buf, 1, sizeof buf, pipe)) {
        out.append(buf, n);
    }
    const int rc = ::pclose(pipe);
    if (status != nullptr) {
        *status = rc;
    }
    return out;
}

inline std::string quoted(const fs::path& p) {
    return "'" + p.string() + "'";
}

// Two styles, an overlap and a pause, at 29.97 drop frame into 720 x 480.
inline std::string ntsc_script(const std::string& settings) {
    return "[Script Info]\r\nPlayResY: 480\r\n[V4 Styles]\r\n"
           "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
           "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
           "MarginV, AlphaLevel, Encoding\r\n"
           "Style: Default,DejaVu Sans,24,16777215,0,0,0,0,0,1,2,0,2,30,30,30,0,0\r\n"
           "Style: Sign,DejaVu Sans,20,65535,0,0,0,-1,0,1,2,0,6,30,30,20,0,0\r\n"
           "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
           "Effect, Text\r\n"
           "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,TSRACONF: " +
           settings +
           "\r\n"
           "Dialogue: Marked=0,0:00:01.00,0:00:03.00,Default,,0,0,0,,First line\r\n"
           "Dialogue: Marked=0,0:00:02.00,0:00:04.00,Sign,,0,0,0,,SIGN\r\n"
           "Dialogue: Marked=0,0:00:05.00,0:00:06.00,Default,,0,0,0,,Second line\r\n";
}

struct Run {
    bool ok = false;
    base::RecordingMessages messages;
    GenerationSummary summary;
    script::TimingSettings timing;
};

inline std::unique_ptr<Run> generate(const std::string& text, const fs::path& output) {
    auto r = std::make_unique<Run>();
    script::Script script;
    script::ReadOptions read;
    EXPECT_TRUE(script::read_script_bytes(script, text, u"in.ssa", read, r->messages));
    r->messages.clear();
    script.settings.output_file = base::utf8_to_utf16(output.string());
    GenerationOptions options;
    r->ok = run_generation(script, options, r->messages, r->summary);
    r->timing = script.settings.timing;
    return r;
}

// A picture placed in the frame: per pixel 0 for transparent, else its opaque RGBA value.
using Frame = std::vector<uint32_t>;

inline void place(const fs::path& png, int x0, int y0, int frame_w, int frame_h, Frame& frame) {
    const std::string bytes = test::read_file(png);
    ASSERT_GE(bytes.size(), 24u) << png;
    auto be32 = [&](size_t at) {
        return static_cast<int>(
            (static_cast<uint8_t>(bytes[at]) << 24) | (static_cast<uint8_t>(bytes[at + 1]) << 16) |
            (static_cast<uint8_t>(bytes[at + 2]) << 8) | static_cast<uint8_t>(bytes[at + 3]));
    };
    const int w = be32(16);
    const int h = be32(20);
    const std::string rgba =
        run("ffmpeg -v error -i " + quoted(png) + " -f rawvideo -pix_fmt rgba -");
    ASSERT_EQ(rgba.size(), static_cast<size_t>(w) * h * 4) << png;
    frame.assign(static_cast<size_t>(frame_w) * frame_h, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const auto* p = reinterpret_cast<const uint8_t*>(rgba.data()) + (y * w + x) * 4;
            if (p[3] == 0) {
                continue;
            }
            ASSERT_LT(x0 + x, frame_w);
            ASSERT_LT(y0 + y, frame_h);
            frame[static_cast<size_t>(y0 + y) * frame_w + x0 + x] =
                p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
        }
    }
}

}  // namespace tessara::test::dvd
