#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "script/compatible.h"
#include "script/style.h"
#include "script/timecode.h"

namespace tessara::base {
class Messages;
}

namespace tessara::script {

// The authoring-script types, in table order; new types are appended.
enum class ScriptType : uint8_t { SON, SST, IAU, SMX, IMG, USF, SCR, SPU, VOBSUB };
inline constexpr int kScriptTypeCount = 9;

std::u16string_view script_type_key(ScriptType t);        // "SON", "SST", ...
std::u16string_view script_type_extension(ScriptType t);  // "son", "sst", "txt", ...
// Case-sensitive key lookup; an empty key means SON.
std::optional<ScriptType> script_type_from_key(std::u16string_view key);

// The ten bitmap type keys ("bmp8" ... "uyc"), in table order.
const std::array<std::u16string_view, 10>& image_type_keys();

// An old-style segment: four optional times (start, stop, source position in plain form,
// destination position with SMPTE allowed).
struct LegacySegment {
    std::optional<ScriptTime> start, stop, src_pos, dst_pos;

    bool operator==(const LegacySegment&) const = default;
};

// True when the list is empty or holds one segment with only an SMPTE destination position: a
// simple offset rather than an old segment definition.
bool is_simple_offset(const std::vector<LegacySegment>& list);

// A DVD segment range (with an end) or a chapter point (without one), in frames at FPS out.
struct DvdSegment {
    FrameTime start;
    std::optional<FrameTime> end;
};

// A segment as read from a "DVDSeg" entry, before the timing settings can convert it.
struct PendingDvdSegment {
    ScriptTime start;
    std::optional<ScriptTime> end;
};

inline constexpr size_t kMaxDvdSegments = 256;

// Longest text a setting takes (paths, frame rates, offsets), in characters: far beyond any real
// value (a path on this system is at most 4096 bytes), and short enough that its settings line
// always reads back. A longer value is refused like any other bad value.
inline constexpr size_t kMaxSettingText = 4096;

// Per-event settings of TSRAUSER lines.
struct UserOverride {
    static constexpr int32_t kUnsetPosition = INT32_MAX;

    std::optional<ScriptTime> absolute_in;   // SMPTE form
    std::optional<ScriptTime> absolute_out;  // SMPTE form
    int32_t pos_x = kUnsetPosition;
    int32_t pos_y = kUnsetPosition;
    int32_t snap_x = 0;  // 0-2
    int32_t snap_y = 0;  // 0-2

    bool has_absolute() const { return absolute_in.has_value() || absolute_out.has_value(); }
    bool has_position() const { return pos_x != kUnsetPosition || pos_y != kUnsetPosition; }

    bool operator==(const UserOverride&) const = default;
};

// The values of the conversion settings: what the script stores in its settings lines and what
// the settings dialogs edit. A dialog copies them (`SettingsValues copy = settings;`), edits the
// copy and assigns it back with ConversionSettings::assign_values(). Defaults are the values
// after reset.
struct SettingsValues {
    std::u16string output_file;
    std::u16string honor_file;
    std::u16string back_picture;
    std::u16string back_movie;
    std::u16string back_offset;
    int32_t crop_above = 0;
    int32_t crop_below = 0;
    Colour back_color = 0x504040;
    bool do_levels = false;
    bool no_sound = false;
    bool auto_detach = false;
    TimingSettings timing;
    int32_t colors = 2;
    int32_t res_x = 720;
    int32_t res_y = 480;
    int32_t tab_width = 32;
    Colour output_background = 0x7F7F7F;
    int32_t safe_frm = 3;
    bool clip_minus_one_pixel = false;
    bool dvd_separate = false;
    int32_t fixed_width = 0;
    int32_t line_spacing = 0;
    int32_t char_spacing = 0;
    bool sticky_colors = true;
    bool dont_clip = false;
    bool scale_screen = true;
    bool right_to_left = false;
    int32_t minus2 = 2;
    bool intell_coll = true;
    bool coll_foresee = true;
    bool no_hrz_coll = false;
    bool show_safe = true;
    bool show_guides = true;
    bool show_snaps = true;
    bool full_width = false;
    int32_t compatible = 0;
    bool stop_is_next = false;
    bool dont_check_fr = false;
    std::u16string vdub_offset;
    std::u16string img_type = u"tif";
    bool bw_wrap = true;
    ScriptType scr_type = ScriptType::SON;
    int32_t comp = 1;
    std::array<Colour, 4> fixed_colors = {0xFF0000, 0xFF, 0, 0xFFFFFF};
    std::vector<std::u16string> style_order;
    std::vector<int32_t> guides;  // a vertical guide has its top bit set
    std::vector<DvdSegment> dvd_segments;
    std::vector<PendingDvdSegment> pending_dvd_segments;
    std::vector<LegacySegment> legacy_segments;
    int32_t code_page = -1;
    int32_t mb_code_page = 0;
    int32_t font_scaling = 0;    // from old settings files only
    int32_t expected_count = 0;  // "Expected": how many settings the file says it holds

    bool old_scale() const { return (compatible & compatible::kOldScale) != 0; }
    bool iauthor() const { return scr_type == ScriptType::IAU; }
};

// How the file of a Unicode script holds its text; saving writes it back the same way.
enum class UnicodeFile : uint8_t {
    Utf16,         // UTF-16LE behind the FF FE mark
    Utf8,          // UTF-8 without a mark
    Utf8WithMark,  // UTF-8 behind the EF BB BF mark
};

// The settings of a loaded script: the values, and the bookkeeping of reading and editing the
// file, which assigning values never touches.
struct ConversionSettings : SettingsValues {
    std::u16string source_path;
    int32_t settings_count = 0;
    bool settings_seen = false;
    bool modified = false;
    bool rebuild_needed = false;
    // The text is Unicode, taken as read; otherwise it holds one character per byte of the file.
    bool unicode = false;
    UnicodeFile unicode_file = UnicodeFile::Utf16;  // only when unicode
    bool treat_n_as_N = false;
    // Copy of the script's playing resolution: SSA width and height, output width and height.
    std::array<int32_t, 4> playing_resolution = {0, 0, 0, 0};

    // Back to the defaults after reset (everything, bookkeeping included).
    void reset() { *this = ConversionSettings(); }
    // Takes every value of `values`; the source path and the flags stay. Whether anything
    // changed is for the caller to say (it marks the document modified).
    void assign_values(const SettingsValues& values) {
        static_cast<SettingsValues&>(*this) = values;
    }
    const SettingsValues& values() const { return *this; }
};

// The screen row a subpicture's first row shows on: with Minus2 on (2 or 3) the canvas is Minus2
// rows shorter than ResY and stands two rows down; without it, at the top.
inline int32_t minus2_row_shift(const ConversionSettings& s) {
    return s.minus2 != 0 ? 2 : 0;
}

// Reads one TSRACONF payload. Pairs before an error stay applied. The first payload of a file
// switches IntellColl, CollForesee, StickyColors and Comp off before applying its pairs.
bool read_settings_payload(ConversionSettings& s, std::u16string_view payload);

// Applies one key=value pair validated exactly as in a settings line, without counting it
// (the command line's --set). False for an unknown key or a bad value.
bool apply_setting(ConversionSettings& s, std::u16string_view key, std::u16string_view value);

// Whether the key names a setting (case-insensitive), read-only older keys included.
bool is_setting_key(std::u16string_view key);

// Reads one TSRAUSER/TSRADATA payload into the pending override, creating it on first use.
bool read_user_payload(std::optional<UserOverride>& pending, std::u16string_view payload);

// The settings lines' entries in key-table order, "Expected=N" last; whole-line entries start
// with '!'.
std::vector<std::u16string> settings_entries(const ConversionSettings& s);

// Packs entries into payloads of at most 158 characters; a whole-line entry ends its payload.
std::vector<std::u16string> pack_settings_entries(const std::vector<std::u16string>& entries);

// The complete comment lines, without line ends.
std::vector<std::u16string> settings_lines(const ConversionSettings& s);
std::u16string style_extras_line(const Style& style);  // empty when the style has no extras
std::u16string style_extras_text(const Style& style);  // the extras alone, "" for defaults
// The TSRAUSER line written before an event's Dialogue line; empty when the override holds
// neither an absolute time nor a position.
std::u16string user_override_line(const UserOverride& uo, ScriptTime event_start);

// Applies the extras of a TSRASTYLE payload to a style (after the name and its ';').
bool read_style_extras(Style& style, std::u16string_view extras);

// The steps after a load: drop frame text, IntellColl from CollForesee, the count check, the
// old-segments notice, the default output path and the conversion of DVD segments.
bool post_load(ConversionSettings& s, base::Messages& messages);
// DVD segments read as times ("DVDSeg") become frames at the frame rates now set; without valid
// rates they are dropped with a warning.
void convert_pending_segments(ConversionSettings& s, base::Messages& messages);

// "DVDSeg" value: a time, or two times joined by '/'. Nothing when malformed.
std::optional<PendingDvdSegment> parse_dvd_segment_value(std::u16string_view value);

// The segment text of the segments dialog. end_as_next_frame: typed ends are one frame after
// the last frame. Entries are sorted; at most 256 are taken.
std::vector<DvdSegment> parse_segment_text(std::u16string_view text, const TimingSettings& timing,
                                           bool end_as_next_frame);
std::u16string format_segment_text(const std::vector<DvdSegment>& segments, bool end_as_next_frame);

// Texts of the segments dialog.
extern const char* const kNoSegmentsFoundText;
extern const char* const kNoSegmentsDefinedText;

// One "Segment" value: four fields, each '*' or a time.
std::optional<LegacySegment> parse_legacy_segment(std::u16string_view value);
std::u16string format_legacy_segment(const LegacySegment& seg);

// A setting's value as held, for listing (the command line's --json).
using SettingValue =
    std::variant<bool, int64_t, std::u16string, std::vector<std::u16string>, std::vector<int64_t>>;
struct DescribedSetting {
    std::u16string_view key;
    SettingValue value;
};
std::vector<DescribedSetting> describe_settings(const ConversionSettings& s);

// Every key of the settings key table, in written order, with the keys only older files hold.
std::vector<std::u16string_view> setting_keys();

// What the key table says of one key: the range of a whole-number key it checks, the default
// value (none for keys only older files hold) and the entries the default is written as
// (none where a default is not written).
struct SettingKeyInfo {
    std::u16string_view key;
    std::optional<std::pair<int32_t, int32_t>> range;
    std::optional<SettingValue> default_value;
    std::vector<std::u16string> default_entries;
};
std::optional<SettingKeyInfo> setting_key_info(std::u16string_view key);
// The entries ("KEY=VALUE") one key contributes when `values` are written; none for a key that
// is not written or not known.
std::vector<std::u16string> written_entries(std::u16string_view key, const SettingsValues& values);

// Messages of the settings.
extern const char* const kSettingCountMismatchText;
extern const char* const kOldSegmentsText;
extern const char* const kSegmentsNotImportedText;

}  // namespace tessara::script
