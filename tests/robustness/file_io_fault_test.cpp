#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "base/messages.h"
#include "base/text.h"
#include "formats/script_writer.h"
#include "imaging/bitmap_writer.h"
#include "imaging/image_types.h"
#include "render/subpicture_canvas.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "script/ssa_writer.h"
#include "test_support.h"
#include "timeline/palette.h"

// Every write of a file can fail: the N-th write call is made to fail (a full disk, an I/O
// error, a partial write followed by a full disk, a write that stores nothing) for every N
// until a save needs no more calls, and the sync can fail too. A failed save must leave the
// original byte for byte, no temporary file, one message naming the path, and report failure.
namespace tessara {
namespace {

namespace fs = std::filesystem;

enum class Fault { NoSpace, IoError, ShortThenNoSpace, WritesNothing };

// The installed system calls: each write stores at most kChunk bytes, so a small file already
// takes dozens of calls; call number g_fail_at misbehaves as g_fault says.
constexpr size_t kChunk = 97;
int g_calls = 0;
int g_fail_at = 0;
Fault g_fault = Fault::NoSpace;
bool g_fail_sync = false;
base::FileIoCalls g_system{};

ssize_t faulty_write(int fd, const void* data, size_t size) {
    ++g_calls;
    size = std::min(size, kChunk);
    if (g_calls == g_fail_at) {
        switch (g_fault) {
            case Fault::NoSpace:
                errno = ENOSPC;
                return -1;
            case Fault::IoError:
                errno = EIO;
                return -1;
            case Fault::ShortThenNoSpace:
                // Part of the bytes fit, then the disk is full.
                g_fail_at = g_calls + 1;
                g_fault = Fault::NoSpace;
                return g_system.write(fd, data, std::max<size_t>(size / 2, 1));
            case Fault::WritesNothing:
                return 0;
        }
    }
    return g_system.write(fd, data, size);
}

int faulty_fsync(int fd) {
    if (g_fail_sync) {
        errno = EIO;
        return -1;
    }
    return g_system.fsync(fd);
}

// Installs the faulty calls for the lifetime of the object.
class FaultyDisk {
  public:
    FaultyDisk(int fail_at, Fault fault, bool fail_sync = false) {
        g_calls = 0;
        g_fail_at = fail_at;
        g_fault = fault;
        g_fail_sync = fail_sync;
        g_system = base::set_file_io_calls_for_testing({faulty_write, faulty_fsync});
    }
    ~FaultyDisk() { base::set_file_io_calls_for_testing(g_system); }
    FaultyDisk(const FaultyDisk&) = delete;
    FaultyDisk& operator=(const FaultyDisk&) = delete;

    int calls() const { return g_calls; }
};

int expected_errno(Fault fault) {
    return fault == Fault::IoError ? EIO : fault == Fault::WritesNothing ? EIO : ENOSPC;
}

std::vector<std::string> folder_listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class FileIoFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        original = test::read_file(fs::path(TESSARA_SOURCE_DIR) / "samples/demo.ssa");
        target = dir.file("film.ssa");
        test::write_file(target, original);
        base::RecordingMessages messages;
        ASSERT_TRUE(script::load_script(script, target.string(), script::ReadOptions{}, messages));
        // An edit, so that a save that went through would change the file.
        script.settings.res_x = 704;
    }

    test::TempDir dir;
    std::string original;
    fs::path target;
    script::Script script;
};

TEST_F(FileIoFaults, EveryFailedWriteOfASaveKeepsTheOriginal) {
    base::RecordingMessages quiet;
    const auto bytes = script::serialize_script(script, quiet);
    ASSERT_TRUE(bytes);
    const int needed = static_cast<int>((bytes->size() + kChunk - 1) / kChunk);
    ASSERT_GT(needed, 10);

    for (Fault fault :
         {Fault::NoSpace, Fault::IoError, Fault::ShortThenNoSpace, Fault::WritesNothing}) {
        for (int n = 1; n <= needed; ++n) {
            SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)) + " at write " +
                         std::to_string(n));
            base::RecordingMessages messages;
            bool saved = false;
            {
                FaultyDisk disk(n, fault);
                saved = script::save_script(script, std::nullopt, messages);
            }
            ASSERT_FALSE(saved);
            EXPECT_EQ(messages.texts(),
                      (std::vector<std::string>{"Error writing to " + target.string(),
                                                base::system_error_text(expected_errno(fault))}));
            ASSERT_EQ(test::read_file(target), original);
            ASSERT_EQ(folder_listing(dir.path()), std::vector<std::string>{"film.ssa"});
            EXPECT_EQ(base::utf16_to_utf8(script.settings.source_path), target.string());
        }
    }

    // A failed flush to disk is a failed save too.
    base::RecordingMessages messages;
    {
        FaultyDisk disk(0, Fault::NoSpace, true);
        EXPECT_FALSE(script::save_script(script, std::nullopt, messages));
    }
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"Error writing to " + target.string(),
                                                          base::system_error_text(EIO)}));
    EXPECT_EQ(test::read_file(target), original);
    EXPECT_EQ(folder_listing(dir.path()), std::vector<std::string>{"film.ssa"});

    // Once the disk behaves, the same save goes through.
    messages.clear();
    ASSERT_TRUE(script::save_script(script, std::nullopt, messages));
    EXPECT_NE(test::read_file(target), original);
    EXPECT_EQ(folder_listing(dir.path()), std::vector<std::string>{"film.ssa"});
}

// Bitmaps are written in place: a failure removes the partial file, so none is left half
// written, and names the file.
TEST_F(FileIoFaults, EveryFailedWriteOfABitmapLeavesNoFile) {
    // Small, so that even the 24-bit files take only a few dozen write calls.
    render::SubpictureCanvas canvas(90, 30);
    render::ClassMap ink(60, 20, 0);
    for (int32_t y = 0; y < ink.height(); ++y) {
        for (int32_t x = 0; x < ink.width(); ++x) {
            ink.at(x, y) = static_cast<uint8_t>((x / 7 + y / 5) % 4);
        }
    }
    canvas.compose(ink, 60, 20, 10, 5, false, true);
    const imaging::ClassColours colours{0xFFFFFF, 0x0000FF, 0x303030, 0x7F7F7F};
    for (int32_t type = 0; type < imaging::kUnknownImageType; ++type) {
        const std::string path =
            dir.file("bitmap." + std::string(imaging::image_type_extension(type))).string();
        render::Rect extent;
        int needed = 0;
        {
            base::RecordingMessages messages;
            FaultyDisk disk(0, Fault::NoSpace);
            ASSERT_TRUE(imaging::write_bitmap(canvas, path, {}, colours, type,
                                              imaging::kDefaultPaletteOrder, extent, messages));
            needed = disk.calls();
        }
        const std::string good = test::read_file(path);
        fs::remove(path);
        ASSERT_GT(needed, 0);
        for (int n = 1; n <= needed; ++n) {
            SCOPED_TRACE(std::string(imaging::image_type_key(type)) + " write " +
                         std::to_string(n));
            base::RecordingMessages messages;
            bool ok = false;
            {
                FaultyDisk disk(n, n % 2 == 0 ? Fault::ShortThenNoSpace : Fault::IoError);
                ok = imaging::write_bitmap(canvas, path, {}, colours, type,
                                           imaging::kDefaultPaletteOrder, extent, messages);
            }
            ASSERT_FALSE(ok);
            ASSERT_FALSE(fs::exists(path));
            EXPECT_EQ(messages.texts(),
                      (std::vector<std::string>{
                          path, base::system_error_text(n % 2 == 0 ? ENOSPC : EIO)}));
        }
        // An earlier complete bitmap under the name is replaced by nothing half written.
        test::write_file(path, good);
        base::RecordingMessages messages;
        {
            FaultyDisk disk(1, Fault::NoSpace);
            EXPECT_FALSE(imaging::write_bitmap(canvas, path, {}, colours, type,
                                               imaging::kDefaultPaletteOrder, extent, messages));
        }
        EXPECT_FALSE(fs::exists(path));
    }
    EXPECT_EQ(folder_listing(dir.path()), std::vector<std::string>{"film.ssa"});
}

// The separate palette file of a Maestro script is replaced whole or not at all.
TEST_F(FileIoFaults, FailedPaletteFileKeepsTheOldOne) {
    auto writer = formats::make_script_writer(script::ScriptType::SON);
    timeline::Palette palette(writer->palette_size());
    palette.add(0xFFFFFF);
    palette.add(0x0000FF);
    const std::string path = dir.file("film.spf").string();
    test::write_file(path, "old palette");
    for (Fault fault : {Fault::NoSpace, Fault::ShortThenNoSpace}) {
        base::RecordingMessages messages;
        {
            FaultyDisk disk(1, fault);
            EXPECT_FALSE(writer->write_palette_file(path, palette, messages));
        }
        // The palette file's messages are fixed texts that do not name it.
        EXPECT_EQ(messages.texts(),
                  (std::vector<std::string>{"Error trying to write the output palette file.",
                                            base::system_error_text(ENOSPC)}));
        EXPECT_EQ(test::read_file(path), "old palette");
        EXPECT_EQ(folder_listing(dir.path()), (std::vector<std::string>{"film.spf", "film.ssa"}));
    }
}

}  // namespace
}  // namespace tessara
