#pragma once

#include <cstdio>
#include <string>

namespace tessara::bench {

// A script of `events` dialogue lines with three styles, italics, line breaks and a settings
// block, as a long film would have; every tenth line overlaps the next one.
inline std::string make_bench_script(int events) {
    std::string s =
        "[Script Info]\r\nScriptType: v4.00\r\nPlayResY: 576\r\n\r\n[V4 Styles]\r\n"
        "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
        "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
        "MarginV, AlphaLevel, Encoding\r\n"
        "Style: Default,Verdana,28,16777215,65535,65535,0,0,0,1,2,0,2,40,40,30,0,0\r\n"
        "Style: Italic,Verdana,28,16777215,65535,65535,0,0,-1,1,2,0,2,40,40,30,0,0\r\n"
        "Style: Sign,Arial,24,65535,65535,65535,0,-1,0,1,2,0,6,30,30,24,0,0\r\n\r\n"
        "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
        "Effect, Text\r\n"
        "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0000,0000,0000,,TSRACONF: "
        "FPSin=23.976;FPSout=25;Colors=2;ResX=720;ResY=576;Expected=5\r\n";
    static const char* const styles[] = {"Default", "Italic", "Sign"};
    static const char* const texts[] = {
        "You left the lamp burning again.",
        "Ships still pass at night,\\Neven if nobody writes to us anymore.",
        "{\\i1}Thirty years{\\i0} of the same question.", "Sing quieter, the children are asleep."};
    char line[512];
    for (int i = 0; i < events; ++i) {
        int start = 100 + i * 250;
        int end = start + 200 + (i % 10 == 0 ? 100 : (i % 7) * 5);
        std::snprintf(line, sizeof line,
                      "Dialogue: Marked=0,%d:%02d:%02d.%02d,%d:%02d:%02d.%02d,*%s,,0000,0000,0000,,"
                      "%s\r\n",
                      start / 360000, start / 6000 % 60, start / 100 % 60, start % 100,
                      end / 360000, end / 6000 % 60, end / 100 % 60, end % 100, styles[i % 3],
                      texts[i % 4]);
        s += line;
    }
    return s;
}

}  // namespace tessara::bench
