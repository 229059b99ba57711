#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/script_writer.h"
#include "script/settings.h"

namespace tessara::base {
class Messages;
class Progress;
}  // namespace tessara::base
namespace tessara::script {
class Script;
}

// The generation run: the loaded script becomes the authoring script of the selected type and
// one bitmap file per subpicture, optionally one script per DVD segment.
namespace tessara::output {

extern const char* const kHonorOpenErrorText;
extern const char* const kBitmapSaveErrorText;
extern const char* const kSkippedSubpicturesFormat;  // one %d: the number skipped
// A subtitle larger than the output frame: the event's number (from 0, as the script lists its
// events), its start time, its box's width and height, the frame's width and height.
extern const char* const kCutSubtitleFormat;

// Names derived from the output script path; '/' and '\' both separate folders.
struct OutputNames {
    std::u16string directory;     // up to and including the last separator; empty without one
    std::u16string title;         // file name without folder and extension
    std::u16string extension;     // from the last '.' of the file name on, or empty
    std::u16string bitmap_title;  // the title's characters 33-126
};
OutputNames derive_output_names(std::u16string_view output_file);

// The extension (without the dot) of the pictures a run writes for the script type: "png" for
// a type that takes transparent PNGs, empty for one that writes no picture files, else the
// ImgType setting's (empty for an unknown ImgType).
std::string picture_extension(script::ScriptType type, std::u16string_view img_type);

struct GenerationOptions {
    bool generate_bitmaps = true;        // off: only the script, with the same names and areas
    base::Progress* progress = nullptr;  // one step per subpicture; none: no progress
    formats::LocalClock clock;           // dates headers that carry one; empty: the real time
    // Subtitles are drawn on a second thread, ahead of the bitmaps being written, when the
    // machine has more than one core. Off: everything on the calling thread. The files written
    // are the same either way.
    bool draw_ahead = true;
};

// What a run wrote.
struct GenerationSummary {
    int32_t subpictures = 0;           // entries written to the script(s)
    int32_t bitmaps = 0;               // bitmap files written
    int32_t skipped = 0;               // subpictures outside every DVD segment (split output)
    int32_t palette_entries = 0;       // used entries of the output palette
    std::vector<std::string> scripts;  // script files written, in order (UTF-8 paths)
    // The files written beside the scripts that hold their pictures (VobSub .sub), in order.
    std::vector<std::string> companions;
    std::string palette_file;  // the palette file written, if any
};

// Runs the conversion with the script's settings (OutputFile, ScrType, ImgType, ...). Every
// failure has been reported through `messages` when it returns false. Script files are written
// whole (each replaces its target only once complete); a failure after some parts or bitmaps
// were written leaves those on disk.
bool run_generation(script::Script& script, const GenerationOptions& options,
                    base::Messages& messages, GenerationSummary& summary);

}  // namespace tessara::output
