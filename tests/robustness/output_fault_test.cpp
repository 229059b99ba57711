#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/text.h"
#include "formats/script_writer.h"
#include "imaging/bitmap_writer.h"
#include "imaging/image_types.h"
#include "output/generation.h"
#include "render/subpicture_canvas.h"
#include "robustness_support.h"
#include "script/ssa_writer.h"
#include "test_support.h"
#include "timeline/palette.h"

// Saving the script and writing the outputs where the system refuses them: beyond a file-size
// limit, into a full device, into a folder that does not exist. Each operation reports failure
// with a message naming the path, the script on disk stays as it was and nothing half written
// is left.
namespace tessara {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        names.push_back(fs::relative(entry.path(), dir).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A canvas with ink over most of a 720 x 576 frame: its bitmaps are tens of kilobytes.
render::SubpictureCanvas inked_canvas() {
    render::SubpictureCanvas canvas(720, 576);
    render::ClassMap ink(700, 500, 0);
    for (int32_t y = 0; y < ink.height(); ++y) {
        for (int32_t x = 0; x < ink.width(); ++x) {
            ink.at(x, y) = static_cast<uint8_t>((x * 7 + y * 3) % 4);
        }
    }
    canvas.compose(ink, 700, 500, 10, 40, false, true);
    return canvas;
}

constexpr imaging::ClassColours kColours{0xFFFFFF, 0x0000FF, 0x303030, 0x7F7F7F};

struct LimitContext {
    fs::path dir;
};

// In the child: every write beyond 4 KiB fails with EFBIG instead of killing the process.
std::string write_beyond_limit(void* context) {
    const fs::path& dir = static_cast<LimitContext*>(context)->dir;
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        return "setrlimit failed";
    }
    std::string problems;
    auto expect = [&](bool ok, const std::string& what) {
        if (!ok) {
            problems += what + "\n";
        }
    };

    // The script, grown past the limit by a long event text.
    script::Script script;
    const std::string path = (dir / "film.ssa").string();
    base::SilentMessages silent;
    if (!script::load_script(script, path, script::ReadOptions{}, silent)) {
        return "cannot load the script";
    }
    for (int i = 0; i < 300; ++i) {
        script.append_line(script::LineKind::Other, u"; a comment line that makes the file long");
    }
    base::RecordingMessages messages;
    expect(!script::save_script(script, std::nullopt, messages), "the save succeeded");
    expect(messages.texts() ==
               std::vector<std::string>{"Error writing to " + path, base::system_error_text(EFBIG)},
           "save message: " + (messages.texts().empty() ? "" : messages.texts()[0]));

    // Every bitmap type.
    const render::SubpictureCanvas canvas = inked_canvas();
    for (int32_t type = 0; type < imaging::kUnknownImageType; ++type) {
        const std::string bitmap =
            (dir / ("b." + std::string(imaging::image_type_extension(type)))).string();
        render::Rect extent;
        messages.clear();
        render::ExtentOptions options;
        options.fixed_width = type >= 8 ? 1000 : 0;  // YC files are at most 1000 wide
        const bool ok = imaging::write_bitmap(canvas, bitmap, options, kColours, type,
                                              imaging::kDefaultPaletteOrder, extent, messages);
        expect(!ok, bitmap + " was written");
        expect(messages.texts() == std::vector<std::string>{bitmap, base::system_error_text(EFBIG)},
               bitmap + " message");
    }

    // A whole generation run: it stops at the first bitmap, which is not left behind.
    script::Script run;
    if (!test::load_text(run, test::small_script_text("ImgType=bmp;Expected=6"),
                         (dir / "run.ssa").string())) {
        return "cannot load the run's script";
    }
    run.settings.output_file = base::utf8_to_utf16((dir / "run.son").string());
    output::GenerationSummary summary;
    messages.clear();
    expect(!output::run_generation(run, output::GenerationOptions{}, messages, summary),
           "the generation run succeeded");
    expect(!messages.texts().empty() && messages.texts().back() == output::kBitmapSaveErrorText,
           "generation message");
    return problems;
}

TEST(OutputFaults, FileSizeLimit) {
    test::TempDir dir;
    const std::string original = test::small_script_text();
    test::write_file(dir.file("film.ssa"), original);
    LimitContext context{dir.path()};
    EXPECT_EQ(test::in_child(write_beyond_limit, &context), "");
    EXPECT_EQ(test::read_file(dir.file("film.ssa")), original);
    // Nothing half written: no temporary file, no bitmap and, from a failed run, no script.
    EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"film.ssa"}));
}

bool is_char_device(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISCHR(st.st_mode);
}

// A device cannot be replaced like a file: the bytes go into it, the failure is reported, and
// the device stays (as root, replacing or removing it would otherwise succeed).
TEST(OutputFaults, FullDevice) {
    if (!is_char_device("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    const std::string full = "/dev/full";
    script::Script script;
    ASSERT_TRUE(test::load_text(script, test::small_script_text(), "/tmp/film.ssa"));
    base::RecordingMessages messages;
    EXPECT_FALSE(script::save_script(script, full, messages));
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"Error writing to /dev/full",
                                                          base::system_error_text(ENOSPC)}));
    EXPECT_EQ(base::utf16_to_utf8(script.settings.source_path), "/tmp/film.ssa");
    ASSERT_TRUE(is_char_device("/dev/full"));

    render::Rect extent;
    for (int32_t type : {0, 5, 7, 9}) {
        messages.clear();
        EXPECT_FALSE(imaging::write_bitmap(inked_canvas(), full, {}, kColours, type,
                                           imaging::kDefaultPaletteOrder, extent, messages));
        EXPECT_EQ(messages.texts(),
                  (std::vector<std::string>{full, base::system_error_text(ENOSPC)}));
        ASSERT_TRUE(is_char_device("/dev/full"));
    }

    auto writer = formats::make_script_writer(script::ScriptType::SON);
    timeline::Palette palette(writer->palette_size());
    palette.add(0xFFFFFF);
    messages.clear();
    EXPECT_FALSE(writer->write_palette_file(full, palette, messages));
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{"Error trying to write the output palette file.",
                                        base::system_error_text(ENOSPC)}));
    ASSERT_TRUE(is_char_device("/dev/full"));

    // Into a device that takes the bytes, a save succeeds (and the device stays).
    if (is_char_device("/dev/null")) {
        messages.clear();
        EXPECT_TRUE(script::save_script(script, std::string("/dev/null"), messages));
        EXPECT_TRUE(is_char_device("/dev/null"));
    }
}

// A folder that does not exist, and a file standing where a folder should be (which stops root
// as well as anyone).
TEST(OutputFaults, MissingFolder) {
    test::TempDir dir;
    test::write_file(dir.file("film.ssa"), test::small_script_text());
    script::Script script;
    ASSERT_TRUE(test::load_text(script, test::small_script_text(), dir.file("film.ssa").string()));
    const struct {
        std::string folder;
        int error;
    } cases[] = {{dir.file("missing").string(), ENOENT}, {dir.file("film.ssa").string(), ENOTDIR}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        base::RecordingMessages messages;
        const std::string saved = c.folder + "/copy.ssa";
        EXPECT_FALSE(script::save_script(script, saved, messages));
        EXPECT_EQ(messages.texts(), (std::vector<std::string>{"Error opening " + saved,
                                                              base::system_error_text(c.error)}));

        const std::string bitmap = c.folder + "/b.bmp";
        render::Rect extent;
        messages.clear();
        EXPECT_FALSE(imaging::write_bitmap(inked_canvas(), bitmap, {}, kColours, 0,
                                           imaging::kDefaultPaletteOrder, extent, messages));
        EXPECT_EQ(messages.texts(),
                  (std::vector<std::string>{bitmap, base::system_error_text(c.error)}));

        auto writer = formats::make_script_writer(script::ScriptType::SON);
        timeline::Palette palette(writer->palette_size());
        messages.clear();
        EXPECT_FALSE(writer->write_palette_file(c.folder + "/p.spf", palette, messages));
        EXPECT_EQ(messages.texts(),
                  (std::vector<std::string>{"Error trying to open the output palette file.",
                                            base::system_error_text(c.error)}));

        // The generation run finds out before it writes anything.
        script.settings.output_file = base::utf8_to_utf16(c.folder + "/film.son");
        output::GenerationSummary summary;
        messages.clear();
        EXPECT_FALSE(
            output::run_generation(script, output::GenerationOptions{}, messages, summary));
        EXPECT_EQ(messages.texts(), (std::vector<std::string>{base::system_error_text(c.error),
                                                              formats::kScriptOpenErrorText}));
        EXPECT_EQ(summary.bitmaps, 0);
    }
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"film.ssa"});
}

// The temporary file of a save is named after the target; a name near the system's 255-byte
// limit must still leave it room.
TEST(OutputFaults, LongFileNamesSave) {
    test::TempDir dir;
    const std::string name = std::string(250, 'n') + ".ssa";
    script::Script script;
    ASSERT_TRUE(test::load_text(script, test::small_script_text(), dir.file("film.ssa").string()));
    base::RecordingMessages messages;
    ASSERT_TRUE(script::save_script(script, dir.file(name).string(), messages))
        << (messages.texts().empty() ? "" : messages.texts().back());
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{name});
}

}  // namespace
}  // namespace tessara
