#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessara::script {

// Whether a script file holds an ASS (V4+) script: it has a [V4+ Styles] section and no
// [V4 Styles] one. Such a file is imported, never read directly: its style columns and several
// of its tags mean something else in an SSA V4 script.
bool is_ass_script(std::string_view bytes);

struct AssImportOptions {
    bool utf8 = false;  // write UTF-8 (with the byte order mark) instead of UTF-16
    // The code page of an 8-bit file's text where its style names no character set (Encoding 0
    // or 1); 0 means 1252. Text of a style with another Encoding uses that set's code page.
    int code_page = 0;
};

// Something of the ASS script that the SSA script does not carry: how many events lost it and
// the numbers of the first few (events are numbered from 1 in file order, Dialogue and Comment
// lines alike).
struct LostFeature {
    std::string what;  // a tag ("\pos", "\k (karaoke)") or a note
    int64_t events = 0;
    std::vector<int64_t> first_events;
};

struct AssImportReport {
    int64_t styles = 0;
    int64_t dialogues = 0;
    int64_t comments = 0;
    std::string resolution;                // how PlayResX/PlayResY became the SSA resolution
    std::string encoding;                  // how the file's text was read
    std::vector<LostFeature> tags;         // per tag, in order of first appearance
    std::vector<LostFeature> events;       // other per-event losses (undefined style, bad line)
    std::vector<std::string> styles_lost;  // per style: "Style "Sign": ScaleX 120, Angle 5"
    std::vector<std::string> sections;     // sections dropped or kept as ordinary lines
};

struct AssImport {
    std::string bytes;  // the SSA V4 script file
    AssImportReport report;
};

// Converts the bytes of an ASS script file into an SSA V4 script file. Never fails: whatever
// cannot be carried over is left out and listed in the report.
AssImport import_ass(std::string_view bytes, const AssImportOptions& options);

// The report as the user reads it, lines ending in '\n'.
std::string import_report_text(const AssImportReport& report);

}  // namespace tessara::script
