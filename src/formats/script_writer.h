#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "render/pixel_class.h"
#include "render/rect.h"
#include "script/settings.h"
#include "script/timecode.h"
#include "timeline/palette.h"

namespace tessara::base {
class Messages;
}

// The authoring-tool script writers. A generation run drives one writer per script file:
//
//   palette_size() → create the palette → honor_palette() when a script's palette is honoured
//   set_area(0, T, ResX - 1, ResY - 1 - M3), set_contrast(15, 15, 15, 0)
//   write_header()
//   per subpicture: set_file(), set_times(), set_colors(), color_keys() for the bitmap,
//                   set_area(bitmap rectangle), write_subpicture()
//   write_footer(), then write_palette_file()
//
// Writers append bytes to a string the caller owns and writes out; they never open the script.
// Text lines end in CR LF and hold one byte per character. A text from outside (a file name, a
// directory, a script title) whose characters are all below 256 is written one byte per
// character; one holding any character above 255 is written wholly as UTF-8, so it is never
// truncated to low bytes and at least matches the name's bytes on this system.
namespace tessara::formats {

// The output palette the timeline's colour assignment fills, which the writers write.
using script::Colour;
using timeline::EditablePalette;
using timeline::Palette;
using timeline::PaletteView;

using script::ConversionSettings;
using script::FrameTime;

// The local date and time a header is stamped with (the Toshiba creation date).
using LocalClock = std::function<std::tm()>;

// Pixel classes of a bitmap, 3 being the background. The scripts' pattern, emphasis 1 and
// emphasis 2 colours are slots 0, 1 and 2; timeline/colour_slots.h says which class each draws.
inline constexpr int kClassCount = 4;

// What the run writes for each subpicture's picture: a file of the ImgType setting's type, an
// 8-bit palette PNG whose background is transparent (named NAME_NNNN.png), or no file: the
// writer takes the picture (set_picture) into the companion file it writes beside the script.
enum class PictureFiles : uint8_t { ImageType, TransparentPng, InCompanionFile };

struct DisplayArea {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    bool operator==(const DisplayArea&) const = default;
};

class ScriptWriter {
  public:
    ScriptWriter();
    virtual ~ScriptWriter() = default;
    ScriptWriter(const ScriptWriter&) = delete;
    ScriptWriter& operator=(const ScriptWriter&) = delete;

    virtual script::ScriptType type() const = 0;

    // Start frame and exclusive end, at FPS out; the last frame shown is end - 1.
    void set_times(const FrameTime& start, const FrameTime& end);
    // The bitmap's name relative to the script's folder, and the 1-based subpicture number.
    void set_file(std::u16string bitmap_name, int32_t number);
    // Palette indices of the subpicture's colours (slot 0, 1, 2 and the background). They are
    // held per pixel class (timeline::by_class); negative indices become 0.
    void set_colors(int32_t a, int32_t b, int32_t c, int32_t d);
    // Contrasts 0-15 of slot 0, 1, 2 and the background, held per pixel class like the colours;
    // values outside 0-15 become 0.
    void set_contrast(int32_t a, int32_t b, int32_t c, int32_t d);
    // In output pixels, stored as given (inclusive or exclusive right/bottom depending on the
    // caller; the writers document which they expect).
    void set_area(int32_t left, int32_t top, int32_t right, int32_t bottom);

    // The colours the bitmap writer paints for pixel classes 0-3.
    virtual std::array<Colour, kClassCount> color_keys(const PaletteView& palette,
                                                       const ConversionSettings& settings) const;

    // Everything before the first subpicture. `directory` is the script's folder, ending with a
    // separator; `base_time` is the start of the current output part when a run writes one
    // script per part. A failure has been reported to `messages`; nothing was appended then.
    virtual bool write_header(std::string& out, const ConversionSettings& settings,
                              std::u16string_view directory, const PaletteView& palette,
                              const std::optional<FrameTime>& base_time,
                              base::Messages& messages) = 0;
    // The lines of the current subpicture.
    virtual bool write_subpicture(std::string& out, const ConversionSettings& settings,
                                  const PaletteView& palette, base::Messages& messages) = 0;
    // Everything after the last subpicture.
    virtual bool write_footer(std::string& out, const ConversionSettings& settings,
                              base::Messages& messages);

    // Number of palette entries the target supports.
    virtual int32_t palette_size() const = 0;

    // Reads the palette of an existing script of this type (its whole text, one byte per
    // character) into `palette`. False ends the run; the reason has been reported. Entries
    // placed before a failure stay.
    virtual bool honor_palette(std::string_view script_text, EditablePalette& palette,
                               base::Messages& messages) = 0;

    // The bytes of the separate palette file, for targets that have one.
    virtual std::optional<std::string> palette_file(const PaletteView& palette) const;
    // Writes palette_file() to `path` (UTF-8 file name) in one piece; targets without a palette
    // file do nothing and succeed.
    bool write_palette_file(const std::string& path, const PaletteView& palette,
                            base::Messages& messages) const;
    // The palette file's path for a script path, or empty when the target has none.
    virtual std::u16string palette_file_name(std::u16string_view script_path) const;

    // The script's folder (up to and including its last separator, '/' or '\'), then the
    // characters 33-126 of the script's title, then '_'. Bitmap names continue with "NNNN.ext".
    std::u16string bitmap_prefix(std::u16string_view script_path) const;

    virtual PictureFiles picture_files() const { return PictureFiles::ImageType; }

    // For InCompanionFile writers, before each write_subpicture: the subpicture's pixel classes
    // and the part of them to show (not empty); the area set next places that part on the frame.
    // The map stays valid until write_subpicture returns.
    virtual void set_picture(const render::ClassMap&, const render::Rect&) {}
    // The extension (without the dot) of the file written beside each script under the script's
    // name, or empty for none.
    virtual std::string_view companion_extension() const { return {}; }
    // The companion file of the script just finished (after write_footer); the next script's
    // starts empty.
    virtual std::string take_companion() { return {}; }

    // Palette index stored for pixel classes 0-3 in indexed bitmaps. The bitmap type does not
    // matter to any target.
    virtual std::array<int32_t, kClassCount> bitmap_index_order(int32_t image_type) const;

    // Replaces the clock that dates headers (tests fix it).
    void set_clock(LocalClock clock) { m_clock = std::move(clock); }

    // The held state.
    const std::u16string& bitmap_name() const { return m_bitmap_name; }
    int32_t number() const { return m_number; }
    const FrameTime& start() const { return m_start; }
    const FrameTime& last_frame() const { return m_last; }
    const std::array<int32_t, kClassCount>& colors() const { return m_colors; }
    const std::array<int32_t, kClassCount>& contrast() const { return m_contrast; }
    const DisplayArea& area() const { return m_area; }

  protected:
    // The exclusive end of the current subpicture.
    FrameTime end() const;
    std::tm local_time() const { return m_clock(); }

    std::u16string m_bitmap_name;
    int32_t m_number = 0;
    bool m_colors_changed = true;
    bool m_contrast_changed = true;
    bool m_area_changed = true;
    FrameTime m_start;
    FrameTime m_last;
    std::array<int32_t, kClassCount> m_colors = {0, 0, 0, 0};
    std::array<int32_t, kClassCount> m_contrast = {0, 0, 0, 0};
    DisplayArea m_area;

  private:
    LocalClock m_clock;
};

// A fresh writer of the type.
std::unique_ptr<ScriptWriter> make_script_writer(script::ScriptType type);

// "Error trying to open the output script file.": an authoring script or a text export that
// cannot be created or replaced.
extern const char* const kScriptOpenErrorText;
// "Error trying to write the output palette file."
extern const char* const kPaletteFileWriteFailureText;
// A DVD subpicture unit over the size limit: the subpicture's number, its start (hh:mm:ss:ff),
// the unit's size and the limit (both %zu).
extern const char* const kUnitTooLargeFormat;

}  // namespace tessara::formats
