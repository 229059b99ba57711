#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessara::base {
class Messages;
class Progress;
}  // namespace tessara::base
namespace tessara::script {
class Script;
}

// Reading back what a generation run wrote and comparing it with a fresh run of the same
// script: the authoring scripts line by line and subpicture by subpicture, and every picture
// pixel by pixel.
namespace tessara::output {

struct VerifyOptions {
    base::Progress* progress = nullptr;  // the fresh run's progress; none: no progress
    // SPU output: also mux the XML into a black MPEG stream with spumux and compare what
    // spuunmux reads back. The stream is as long as the subtitles, so this is slow for a film.
    bool mux = false;
};

struct VerifyReport {
    std::vector<std::string> mismatches;  // one line each, in the order found
    std::vector<std::string> notes;       // what could not be checked, and why
    int32_t scripts = 0;                  // authoring scripts compared
    int32_t subpictures = 0;              // subpictures the written scripts list
    int32_t pictures = 0;                 // pictures decoded and compared

    bool all_match() const { return mismatches.empty(); }
    // "N scripts, N subpictures, N pictures checked: all match" (or the number of mismatches).
    std::string summary() const;
};

// Checks the output that the script's settings name (OutputFile, ScrType, ImgType, the DVD
// segments ...). Scripts are parsed: times must run in order without overlapping, every picture
// must exist and sit inside the frame, colours must be palette entries and contrasts 0-15; and
// every part must equal the fresh run's. False only when nothing could be compared (the fresh
// run failed, or no written script could be read): the reason has been reported.
bool verify_output(script::Script& script, const VerifyOptions& options, base::Messages& messages,
                   VerifyReport& report);

}  // namespace tessara::output
