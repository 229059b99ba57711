// Writes a generated SSA V4 script to standard output, for end-to-end timing of a conversion:
//   gen_script EVENTS [SEED] [IMGTYPE]
// The script has three styles (one italic), one- and two-line subtitles of 5-14 words, about
// one overlapping subtitle in ten, and a settings block for 720x480 at 29.97 fps. The same
// arguments always give the same script.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: gen_script EVENTS [SEED] [IMGTYPE]\n");
        return 2;
    }
    const long events = std::strtol(argv[1], nullptr, 10);
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 1;
    const std::string img = argc > 3 ? argv[3] : "bmp4rle";
    if (events < 0 || events > 1000000) {
        std::fprintf(stderr, "gen_script: EVENTS must be 0-1000000\n");
        return 2;
    }
    static const char* const words[] = {
        "the",   "light",   "keeper",   "night",    "sea",   "ship",   "never", "again",  "lamp",
        "storm", "harbour", "quiet",    "old",      "waves", "window", "bread", "coast",  "letter",
        "you",   "we",      "remember", "tomorrow", "north", "wind",   "salt",  "voices", "rope"};
    std::mt19937 rng(seed);
    std::printf(
        "[Script Info]\r\nScriptType: v4.00\r\nPlayResY: 480\r\n\r\n[V4 Styles]\r\n"
        "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
        "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
        "MarginV, AlphaLevel, Encoding\r\n"
        "Style: Default,Verdana,24,16777215,65535,65535,0,0,0,1,2,0,2,30,30,24,0,0\r\n"
        "Style: Thoughts,Verdana,24,16777215,65535,65535,0,0,-1,1,2,0,2,30,30,24,0,0\r\n"
        "Style: Sign,Arial,20,65535,65535,65535,0,-1,0,1,2,0,6,30,30,20,0,0\r\n\r\n"
        "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
        "Effect, Text\r\n"
        "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0000,0000,0000,,TSRACONF: "
        "FPSin=29.97;FPSout=29.97;Colors=2;ResX=720;ResY=480;ImgType=%s;Expected=6\r\n",
        img.c_str());
    static const char* const styles[] = {"Default", "Default", "Thoughts", "Sign"};
    long t = 100;
    for (long i = 0; i < events; ++i) {
        const long duration = 150 + static_cast<long>(rng() % 250);
        const bool overlap = rng() % 10 == 0;
        const long start = t;
        const long end = start + duration;
        t = overlap ? start + duration / 2 : end + 20 + static_cast<long>(rng() % 100);
        std::string text;
        const int count = 5 + static_cast<int>(rng() % 10);
        for (int w = 0; w < count; ++w) {
            if (w > 0)
                text += (count > 8 && w == count / 2) ? "\\N" : " ";
            const bool italic = rng() % 20 == 0;
            if (italic)
                text += "{\\i1}";
            text += words[rng() % (sizeof words / sizeof *words)];
            if (italic)
                text += "{\\i0}";
        }
        std::printf(
            "Dialogue: Marked=0,%ld:%02ld:%02ld.%02ld,%ld:%02ld:%02ld.%02ld,*%s,,0000,0000,"
            "0000,,%s\r\n",
            start / 360000, start / 6000 % 60, start / 100 % 60, start % 100, end / 360000,
            end / 6000 % 60, end / 100 % 60, end % 100, styles[rng() % 4], text.c_str());
    }
    return 0;
}
