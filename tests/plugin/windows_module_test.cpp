#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "filter_host.h"
#include "link_fixtures.h"

// The Windows module in the Windows build of the stand-in host under Wine, fed by a native
// `tessara feed --loopback`. Run by tests/plugin/windows-under-wine.sh, which builds the Windows
// programs and names them in TESSARA_WINDOWS_BUILD (skipped without it).
namespace tessara::link_test {
namespace {

namespace fs = std::filesystem;

// An RGB picture: three bytes per pixel, rows from the top.
struct Rgb {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> bytes;

    uint32_t at(int32_t x, int32_t y) const {
        const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 3;
        return (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    }
};

std::optional<Rgb> read_ppm(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    Rgb out;
    int max = 0;
    if (!(in >> magic >> out.width >> out.height >> max) || magic != "P6" || max != 255) {
        return std::nullopt;
    }
    in.get();
    out.bytes.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height) * 3);
    if (!in.read(reinterpret_cast<char*>(out.bytes.data()),
                 static_cast<std::streamsize>(out.bytes.size()))) {
        return std::nullopt;
    }
    return out;
}

std::optional<Rgb> read_png(const fs::path& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGB;
    Rgb out{static_cast<int32_t>(image.width), static_cast<int32_t>(image.height), {}};
    out.bytes.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.bytes.data(), 0, nullptr)) {
        return std::nullopt;
    }
    return out;
}

using Process = ChildProcess;

bool wait_for(const fs::path& path) {
    for (int i = 0; i < 2000 && !fs::exists(path); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return fs::exists(path);
}

constexpr uint32_t kVideo = 0x123456;  // RRGGBB of the frames before the filter runs
const std::vector<int32_t> kFrames = {0, 25, 49, 50, 75, 99, 100, 125, 149, 150};

class WindowsModule : public LoadedPlugin {
  protected:
    WindowsModule() : LoadedPlugin(20000) {}
    void SetUp() override {
        const char* build = std::getenv("TESSARA_WINDOWS_BUILD");
        const char* wine = std::getenv("TESSARA_WINE");
        if (build == nullptr || wine == nullptr) {
            GTEST_SKIP() << "run by windows-under-wine.sh, which builds the Windows programs";
        }
        m_build = build;
        m_wine = wine;
        LoadedPlugin::SetUp();
        // Without the two-row shift the plug-in paints rows where the rendered picture has them.
        test::write_file(script, three_subtitles("Minus2=0;"));
    }

    test::TempDir dir;
    fs::path script = dir.file("three.ssa");
    fs::path m_build;
    std::string m_wine;
};

TEST_F(WindowsModule, UnderWinePaintsWhatTheLinuxModuleAndRenderDraw) {
    char background[8];
    std::snprintf(background, sizeof background, "%06x", kVideo);
    auto run_host = [&](const fs::path& out, const std::string& list) {
        fs::create_directories(out);
        Process run({m_wine, (m_build / "tessara-filter-host.exe").string(),
                     (m_build / "VDubTessara.vdf").string(), "--size", "720x576", "--frame-us",
                     "40000", "--frames", list, "--background", background, "-o", out.string()},
                    dir.file("host.out"), dir.file("host.err"));
        return run.wait();
    };

    // Without the program the module starts with its empty cache and leaves the frames alone.
    const fs::path alone = dir.file("alone");
    ASSERT_EQ(run_host(alone, "25"), 0) << test::read_file(dir.file("host.err"));
    const auto untouched = read_ppm(alone / "frame_000025.ppm");
    ASSERT_TRUE(untouched);
    int touched = 0;
    for (int32_t y = 0; y < 576; ++y) {
        for (int32_t x = 0; x < 720; ++x) {
            touched += untouched->at(x, y) != kVideo ? 1 : 0;
        }
    }
    EXPECT_EQ(touched, 0);
    // The Windows module finds the loopback file through Wine's view of $XDG_RUNTIME_DIR.
    Process feed({TESSARA_CLI, "feed", script.string(), "--loopback", "--quiet"},
                 dir.file("feed.out"), dir.file("feed.err"));
    ASSERT_TRUE(wait_for(folder.path() / "Tessara-plugin.loopback"));
    const fs::path frames = dir.file("windows");
    std::string list;
    for (int32_t f : kFrames) {
        list += (list.empty() ? "" : ",") + std::to_string(f);
    }
    EXPECT_EQ(run_host(frames, list), 0)
        << test::read_file(dir.file("host.out")) << test::read_file(dir.file("host.err"));
    EXPECT_EQ(feed.wait(), 0) << feed.err();

    // The same feed to the Linux module, over the socket.
    Process again({TESSARA_CLI, "feed", script.string(), "--quiet"}, dir.file("feed2.out"),
                  dir.file("feed2.err"));
    ASSERT_TRUE(wait_for(link::socket_path()));
    ASSERT_EQ(host.start(40000), 0);
    EXPECT_EQ(again.wait(), 0) << again.err();

    BuiltScript built(three_subtitles("Minus2=0;"));
    int painted_frames = 0;
    for (int32_t f : kFrames) {
        SCOPED_TRACE(testing::Message() << "frame " << f);
        char name[32];
        std::snprintf(name, sizeof name, "frame_%06d.ppm", f);
        const auto windows = read_ppm(frames / name);
        ASSERT_TRUE(windows);
        ASSERT_EQ(windows->width, 720);
        ASSERT_EQ(windows->height, 576);

        plugin_test::HostFrame linux_frame(720, 576, kVideo);
        ASSERT_EQ(host.run(f, linux_frame), 0);

        // What `tessara render --subpicture` draws for the subpicture showing on the frame: its
        // subtitles over BackColor, which the video shows through in the plug-in.
        std::optional<Rgb> rendered;
        if (const auto* sp = built.subpicture_at(f)) {
            const fs::path png = dir.file("sp" + std::to_string(f) + ".png");
            Process render({TESSARA_CLI, "render", script.string(), "--subpicture",
                            std::to_string(sp->sequence), "-o", png.string(), "--quiet"},
                           dir.file("render.out"), dir.file("render.err"));
            ASSERT_EQ(render.wait(), 0) << render.err();
            rendered = read_png(png);
            ASSERT_TRUE(rendered);
        }
        const uint32_t back = rendered ? rendered->at(0, 0) : 0;
        int differ_linux = 0;
        int differ_render = 0;
        int painted = 0;
        for (int32_t y = 0; y < 576; ++y) {
            for (int32_t x = 0; x < 720; ++x) {
                const uint32_t w = windows->at(x, y);
                differ_linux += w != (linux_frame.at(x, y) & 0xFFFFFF) ? 1 : 0;
                const uint32_t r = rendered ? rendered->at(x, y) : back;
                const bool ink = rendered && r != back;
                painted += ink ? 1 : 0;
                differ_render += w != (ink ? r : kVideo) ? 1 : 0;
            }
        }
        EXPECT_EQ(differ_linux, 0);
        EXPECT_EQ(differ_render, 0);
        painted_frames += painted > 0 ? 1 : 0;
    }
    EXPECT_EQ(painted_frames, 6);  // 25, 49, 75, 99, 125, 149
}

}  // namespace
}  // namespace tessara::link_test
