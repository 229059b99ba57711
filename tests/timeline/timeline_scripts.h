#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/messages.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "script/timecode.h"

// Small scripts for the timeline tests, drawn with the DejaVu fonts the project installs.
namespace tessara::timeline::testing {

struct Line {
    Line(std::string s, std::string e, std::string t, std::string st = "Default",
         std::string u = "")
        : start(std::move(s)),
          end(std::move(e)),
          text(std::move(t)),
          style(std::move(st)),
          user(std::move(u)) {}
    std::string start, end, text, style;
    std::string user;  // TSRAUSER items, if any
};

inline const std::string kWhiteStyle =
    "Style: Default,DejaVu Sans,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0";
inline const std::string kYellowStyle =
    "Style: Yellow,DejaVu Sans,20,65535,0,0,0,0,0,1,2,0,2,10,10,10,0,0";

// Loads the lines and sets both frame rates as typed.
inline std::unique_ptr<script::Script> load(
    const std::vector<Line>& lines, const std::u16string& fps_in = u"25",
    const std::u16string& fps_out = u"25", const std::vector<std::string>& styles = {kWhiteStyle}) {
    std::string text =
        "[Script Info]\r\nPlayResY: 480\r\n[V4 Styles]\r\nFormat: Name, Fontname, Fontsize, "
        "PrimaryColour, SecondaryColour, TertiaryColour, BackColour, Bold, Italic, BorderStyle, "
        "Outline, Shadow, Alignment, MarginL, MarginR, MarginV, AlphaLevel, Encoding\r\n";
    for (const auto& st : styles) {
        text += st + "\r\n";
    }
    text +=
        "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
        "Effect, Text\r\n";
    for (const Line& l : lines) {
        const std::string times = l.start + "," + l.end + ",";
        if (!l.user.empty()) {
            text += "Comment: Marked=0," + times + "*Default,,0000,0000,0000,,TSRAUSER: " + l.user +
                    "\r\n";
        }
        text += "Dialogue: Marked=0," + times + l.style + ",,0000,0000,0000,," + l.text + "\r\n";
    }
    auto script = std::make_unique<script::Script>();
    base::RecordingMessages messages;
    EXPECT_TRUE(script::read_script_bytes(*script, text, u"t.ssa", {}, messages));
    script->settings.timing.fps_in_text = fps_in;
    script->settings.timing.fps_out_text = fps_out;
    EXPECT_TRUE(script::validate_timing(script->settings.timing, false, nullptr, true));
    return script;
}

}  // namespace tessara::timeline::testing
