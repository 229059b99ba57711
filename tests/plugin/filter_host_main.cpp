// tessara-filter-host: plays the video host for the filter module from the command line. It
// loads the module, starts filtering (which takes a transfer from a waiting `tessara feed`) and
// paints the chosen frames over a plain background into PNG files (binary PPM files in the
// Windows build, which has no PNG library), so that what the filter paints can be compared with
// `tessara render --subpicture`.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "base/messages.h"
#include "filter_host.h"
#ifndef _WIN32
#include "imaging/png_writer.h"
#endif

namespace {

constexpr const char* kUsage =
    R"(usage: tessara-filter-host [MODULE] [--size WxH] [--frame-us N] [--frames LIST]
                           [-o DIR] [--background RRGGBB] [--wait-ms N]

Loads the filter module (default: the one built beside this program), starts it as the video
host would (it connects to a waiting `tessara feed`, or keeps its cache without one) and paints
the frames of LIST (e.g. 0,25,100-110) over the background colour into DIR/frame_NNNNNN.png
(.ppm in the Windows build).
--size is the frame size (default 720x480), --frame-us the host's microseconds per frame
(default 0: unknown). Exit status: 0 when the filter started, 1 when it refused, 2 usage.
)";

struct Options {
    std::string module = TESSARA_PLUGIN_MODULE;
    int32_t width = 720;
    int32_t height = 480;
    int32_t frame_us = 0;
    std::vector<int32_t> frames;
    std::string output_dir = ".";
    uint32_t background = 0;
    long long wait_ms = -1;
};

bool parse_frames(const std::string& text, std::vector<int32_t>& out) {
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = text.find(',', at);
        const std::string item =
            text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        const size_t dash = item.find('-', 1);
        try {
            const long a = std::stol(item.substr(0, dash));
            const long b = dash == std::string::npos ? a : std::stol(item.substr(dash + 1));
            if (b < a || b - a > 100000) {
                return false;
            }
            for (long f = a; f <= b; ++f) {
                out.push_back(static_cast<int32_t>(f));
            }
        } catch (...) {
            return false;
        }
        if (comma == std::string::npos) {
            break;
        }
        at = comma + 1;
    }
    return true;
}

// Writes the frame as frame_NNNNNN.png (frame_NNNNNN.ppm on Windows) in the folder.
bool write_frame(const std::string& folder, int32_t number,
                 tessara::plugin_test::HostFrame& image) {
    char name[64];
#ifdef _WIN32
    std::snprintf(name, sizeof name, "/frame_%06d.ppm", number);
    const std::string path = folder + name;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    bool ok = out != nullptr;
    if (ok) {
        std::fprintf(out, "P6\n%d %d\n255\n", image.width, image.height);
        std::vector<unsigned char> row(static_cast<size_t>(image.width) * 3);
        for (int32_t y = 0; y < image.height && ok; ++y) {
            for (int32_t x = 0; x < image.width; ++x) {
                const uint32_t p = image.at(x, y);  // blue in the low byte
                row[static_cast<size_t>(x) * 3] = static_cast<unsigned char>(p >> 16);
                row[static_cast<size_t>(x) * 3 + 1] = static_cast<unsigned char>(p >> 8);
                row[static_cast<size_t>(x) * 3 + 2] = static_cast<unsigned char>(p);
            }
            ok = std::fwrite(row.data(), 1, row.size(), out) == row.size();
        }
        ok = std::fclose(out) == 0 && ok;
    }
#else
    std::snprintf(name, sizeof name, "/frame_%06d.png", number);
    const std::string path = folder + name;
    tessara::render::Bitmap<uint32_t> out(image.width, image.height, 0);
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            const uint32_t p = image.at(x, y);
            out.at(x, y) = ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
        }
    }
    tessara::base::RecordingMessages messages;
    const bool ok = tessara::imaging::write_png(path, out, messages);
#endif
    if (!ok) {
        std::cerr << "tessara-filter-host: cannot write " << path << '\n';
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::vector<std::string> args(argv + 1, argv + argc);
    bool module_given = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) {
                std::cerr << "tessara-filter-host: " << a << " needs a value\n";
                std::exit(2);
            }
            return args[++i];
        };
        if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--size") {
            const std::string v = value();
            if (std::sscanf(v.c_str(), "%dx%d", &o.width, &o.height) != 2 || o.width <= 0 ||
                o.height <= 0 || o.width > 8192 || o.height > 8192) {
                std::cerr << "tessara-filter-host: bad --size " << v << '\n';
                return 2;
            }
        } else if (a == "--frame-us") {
            o.frame_us = std::atoi(value().c_str());
        } else if (a == "--frames") {
            if (!parse_frames(value(), o.frames)) {
                std::cerr << "tessara-filter-host: bad --frames list\n";
                return 2;
            }
        } else if (a == "-o") {
            o.output_dir = value();
        } else if (a == "--background") {
            o.background = static_cast<uint32_t>(std::strtoul(value().c_str(), nullptr, 16));
        } else if (a == "--wait-ms") {
            o.wait_ms = std::atoll(value().c_str());
        } else if (!a.empty() && a[0] != '-' && !module_given) {
            o.module = a;
            module_given = true;
        } else {
            std::cerr << "tessara-filter-host: unknown argument " << a << '\n' << kUsage;
            return 2;
        }
    }

    tessara::plugin_test::FilterHost host;
    if (!host.load(o.module)) {
        std::cerr << "tessara-filter-host: cannot load " << o.module << ": " << host.error << '\n';
        return 1;
    }
    if (o.wait_ms >= 0) {
        host.set_wait_limit_ms(o.wait_ms);
    }
    host.create(o.width, o.height);
    host.param();
    const int started = host.start(o.frame_us);
    std::cout << "start: " << (started == 0 ? "ok" : "refused") << std::endl;
    // The background is given as RRGGBB; host pixels hold blue in the low byte.
    tessara::plugin_test::HostFrame image(o.width, o.height, o.background & 0xFFFFFF);
    for (int32_t f : o.frames) {
        image.pixels.assign(image.pixels.size(), o.background & 0xFFFFFF);
        host.run(f, image);
        if (!write_frame(o.output_dir, f, image)) {
            return 1;
        }
    }
    host.end();
    return started == 0 ? 0 : 1;
}
