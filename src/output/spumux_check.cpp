#include "output/spumux_check.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "base/file_io.h"
#include "imaging/bitmap_reader.h"
#include "output/script_reader.h"
#include "output/temp_folder.h"
#include "script/timecode.h"

namespace tessara::output {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

bool have(const char* tool) {
    return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

// A picture placed on the frame: 0 where nothing is drawn, else the pixel's colour.
using Placed = std::vector<uint32_t>;

bool place(const std::string& path, int32_t x, int32_t y, int32_t width, int32_t height,
           Placed& frame, std::string& error) {
    const auto image = imaging::read_image_file(path, error);
    if (!image) {
        return false;
    }
    frame.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    for (int32_t r = 0; r < image->height; ++r) {
        for (int32_t c = 0; c < image->width; ++c) {
            const uint32_t p = image->pixels[static_cast<size_t>(r) * image->width + c];
            if (p >> 24 == 0 || x + c < 0 || x + c >= width || y + r < 0 || y + r >= height) {
                continue;
            }
            frame[static_cast<size_t>(y + r) * width + (x + c)] = p | 0xFF000000u;
        }
    }
    return true;
}

// The index of the first pixel where the two disagree, or nothing.
std::optional<size_t> first_difference(const Placed& ours, const Placed& theirs) {
    std::map<uint32_t, uint32_t> forward;
    std::map<uint32_t, uint32_t> backward;
    for (size_t i = 0; i < ours.size(); ++i) {
        if ((ours[i] == 0) != (theirs[i] == 0)) {
            return i;
        }
        if (ours[i] == 0) {
            continue;
        }
        if (forward.emplace(ours[i], theirs[i]).first->second != theirs[i] ||
            backward.emplace(theirs[i], ours[i]).first->second != ours[i]) {
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace

void check_with_spumux(const std::string& xml_path, const script::ConversionSettings& settings,
                       VerifyReport& report) {
    const std::string name = xml_path.substr(xml_path.find_last_of('/') + 1);
    for (const char* tool : {"spumux", "spuunmux", "ffmpeg"}) {
        if (!have(tool)) {
            report.notes.push_back(name + ": the spumux round trip needs " + tool +
                                   ", which is not installed");
            return;
        }
    }
    int error = 0;
    const auto text = base::read_whole_file(xml_path, error);
    if (!text) {
        return;  // reported by the script comparison
    }
    const ParsedScript ours = parse_authoring_script(script::ScriptType::SPU, *text);
    int64_t last = 0;
    for (const ScriptEntry& e : ours.entries) {
        last = std::max(last, time_order_key(e.end).value_or(0));
    }
    TempFolder temp;
    if (!temp.make("tessara-spumux")) {
        report.notes.push_back(name + ": no folder for the spumux round trip");
        return;
    }
    const bool ntsc = text->find("format=\"NTSC\"") != std::string::npos;
    const int32_t w = settings.res_x;
    const int32_t h = settings.res_y;
    char video[512];
    std::snprintf(video, sizeof video,
                  "ffmpeg -nostdin -v error -f lavfi -i color=black:s=%dx%d:r=%s -t %lld "
                  "-c:v mpeg2video -b:v 200k -f dvd %s >/dev/null 2>&1",
                  w, h, ntsc ? "30000/1001" : "25", static_cast<long long>(last / 10000 + 2),
                  quoted(temp.path() + "video.mpg").c_str());
    const std::string folder = xml_path.substr(0, xml_path.size() - name.size());
    const std::string mux = "cd " + quoted(folder.empty() ? "." : folder) + " && spumux " +
                            quoted(name) + " < " + quoted(temp.path() + "video.mpg") + " > " +
                            quoted(temp.path() + "muxed.mpg") + " 2>/dev/null";
    const std::string unmux = "cd " + quoted(temp.path()) +
                              " && mkdir back && spuunmux -o back/sp muxed.mpg >/dev/null 2>&1";
    if (std::system(video) != 0) {
        report.mismatches.push_back(name + ": ffmpeg could not make the video to mux into");
        return;
    }
    if (std::system(mux.c_str()) != 0) {
        report.mismatches.push_back(name + ": spumux refused the script");
        return;
    }
    if (std::system(unmux.c_str()) != 0) {
        report.mismatches.push_back(name + ": spuunmux could not read the muxed stream");
        return;
    }
    const auto back = base::read_whole_file(temp.path() + "back/sp.xml", error);
    const ParsedScript theirs =
        parse_authoring_script(script::ScriptType::SPU, back ? *back : std::string());
    if (theirs.entries.size() != ours.entries.size()) {
        report.mismatches.push_back(name + ": spuunmux gives " +
                                    std::to_string(theirs.entries.size()) + " pictures, expected " +
                                    std::to_string(ours.entries.size()));
    }
    for (size_t i = 0; i < std::min(ours.entries.size(), theirs.entries.size()); ++i) {
        const ScriptEntry& a = ours.entries[i];
        const ScriptEntry& b = theirs.entries[i];
        Placed mine;
        Placed read_back;
        std::string reason;
        if (!place(folder + a.file, a.corner->first, a.corner->second, w, h, mine, reason) ||
            !place(temp.path() + b.file, b.corner->first, b.corner->second, w, h, read_back,
                   reason)) {
            report.mismatches.push_back(name + ": " + a.file + " after spuunmux: " + reason);
            continue;
        }
        if (const auto at = first_difference(mine, read_back)) {
            report.mismatches.push_back(name + ": " + a.file +
                                        " after spumux and spuunmux differs first at (" +
                                        std::to_string(*at % static_cast<size_t>(w)) + ", " +
                                        std::to_string(*at / static_cast<size_t>(w)) + ")");
        }
    }
}

}  // namespace tessara::output
