#include "script/settings.h"

#include <algorithm>
#include <cstdio>

#include "base/messages.h"
#include "base/text.h"
#include "script/codepage.h"

namespace tessara::script {

using base::format_int;
using base::iequals;
using base::parse_hex_exact;
using base::parse_int_exact;
using base::to_u16;
using base::trim_blanks;

const char* const kSettingCountMismatchText =
    "The setting count in the SSA file doesn't match\nthe expected number. Either or you "
    "accidentally\ndeleted some configuration lines from within SSA,\nor added one or more "
    "settings of your own.\nUnspecified settings will take the default value.";
const char* const kOldSegmentsText =
    "The file you just loaded uses old Tessara segments.\r\nThis kind of segments are no longer "
    "supported.\r\nThey'll continue to work for the time being, but they'll\r\nno longer be "
    "editable. In future versions of Tessara,\r\nthey'll stop working at all.";
const char* const kSegmentsNotImportedText =
    "Warning: this file had segments defined,\r\nbut they couldn't be imported because\r\nno "
    "timing settings where found (fps in/out).";
const char* const kNoSegmentsFoundText =
    "No segments were found in the text.\r\nUse the Clear button to wipe out the\r\n"
    "chapters/segments information.";
const char* const kNoSegmentsDefinedText =
    "There are no segments or chapters defined.\r\nUse the editing area below to enter segment "
    "or\r\nchapter information and then press 'Parse' to\r\nvalidate the data.";

namespace {

constexpr std::u16string_view kScriptTypeKeys[kScriptTypeCount] = {
    u"SON", u"SST", u"IAU", u"SMX", u"IMG", u"USF", u"SCR", u"SPU", u"VOBSUB"};
constexpr std::u16string_view kScriptTypeExtensions[kScriptTypeCount] = {
    u"son", u"sst", u"txt", u"sub", u"sub", u"usf", u"scr", u"xml", u"idx"};

const std::array<std::u16string_view, 10> kImageTypeKeys = {
    u"bmp8", u"bmp8rle", u"bmp4", u"bmp4rle", u"bmp", u"tif", u"tga", u"tgarle", u"yc", u"uyc"};

std::u16string hex24(Colour c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(c & 0xFFFFFF));
    return to_u16(buf);
}

std::optional<bool> parse_bool(std::u16string_view v) {
    v = trim_blanks(v);
    if (auto n = parse_int_exact(v)) {
        return *n != 0;
    }
    if (iequals(v, u"true") || iequals(v, u"yes") || iequals(v, u"y")) {
        return true;
    }
    if (iequals(v, u"false") || iequals(v, u"no") || iequals(v, u"n")) {
        return false;
    }
    return std::nullopt;
}

std::optional<int32_t> parse_ranged(std::u16string_view v, int32_t lo, int32_t hi) {
    auto n = parse_int_exact(v);
    if (!n || *n < lo || *n > hi) {
        return std::nullopt;
    }
    return n;
}

// Splits at `sep`, trimming blanks from each piece; empty pieces are kept.
std::vector<std::u16string_view> split(std::u16string_view s, char16_t sep) {
    std::vector<std::u16string_view> out;
    size_t start = 0;
    while (true) {
        size_t p = s.find(sep, start);
        out.push_back(trim_blanks(s.substr(start, p == std::u16string_view::npos ? p : p - start)));
        if (p == std::u16string_view::npos) {
            break;
        }
        start = p + 1;
    }
    return out;
}

std::optional<std::vector<int32_t>> parse_int_list(std::u16string_view v) {
    std::vector<int32_t> out;
    if (trim_blanks(v).empty()) {
        return out;
    }
    for (auto piece : split(v, u',')) {
        if (piece.empty()) {
            continue;
        }
        auto n = parse_int_exact(piece);
        if (!n) {
            return std::nullopt;
        }
        out.push_back(*n);
    }
    return out;
}

template <typename T>
std::u16string join(const std::vector<T>& items, char16_t sep) {
    std::u16string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            out += sep;
        }
        if constexpr (std::is_same_v<T, std::u16string>) {
            out += items[i];
        } else {
            out += format_int(items[i]);
        }
    }
    return out;
}

using CS = SettingsValues;
using Entries = std::vector<std::u16string>;

// When a simple setting is written.
enum class When { Always, On, Off, NonZero, Positive, Never };

// One key of the settings table: how it is read, written and listed.
struct KeyDef {
    std::u16string_view key;
    bool whole_line;  // takes the rest of the payload, ';' included
    bool (*read)(CS&, std::u16string_view);
    void (*write)(const KeyDef&, const CS&, Entries&);  // null for keys that are only read
    SettingValue (*get)(const CS&);                     // null for keys that are only read
    When when = When::Always;
    // The range of a whole-number key, where the table checks one.
    bool ranged = false;
    int32_t lo = 0;
    int32_t hi = 0;
};

std::u16string pair(std::u16string_view key, std::u16string_view value) {
    std::u16string out(key);
    out += u'=';
    out += value;
    return out;
}

// --- simple members through templates -------------------------------------------------------

template <bool CS::*M>
bool read_bool(CS& s, std::u16string_view v) {
    auto b = parse_bool(v);
    if (!b)
        return false;
    s.*M = *b;
    return true;
}
template <bool CS::*M>
void write_bool(const KeyDef& k, const CS& s, Entries& e) {
    bool v = s.*M;
    if (k.when == When::Always || (k.when == When::On && v) || (k.when == When::Off && !v)) {
        e.push_back(pair(k.key, v ? u"1" : u"0"));
    }
}
template <bool CS::*M>
SettingValue get_bool(const CS& s) {
    return s.*M;
}

template <int32_t CS::*M, int32_t Lo, int32_t Hi>
bool read_int(CS& s, std::u16string_view v) {
    auto n = parse_ranged(v, Lo, Hi);
    if (!n)
        return false;
    s.*M = *n;
    return true;
}
template <int32_t CS::*M>
void write_int(const KeyDef& k, const CS& s, Entries& e) {
    int32_t v = s.*M;
    if (k.when == When::Always || (k.when == When::NonZero && v != 0) ||
        (k.when == When::Positive && v > 0)) {
        e.push_back(pair(k.key, format_int(v)));
    }
}
template <int32_t CS::*M>
SettingValue get_int(const CS& s) {
    return int64_t{s.*M};
}

template <Colour CS::*M>
bool read_hex(CS& s, std::u16string_view v) {
    auto n = parse_hex_exact(v);
    if (!n)
        return false;
    s.*M = *n;
    return true;
}
template <Colour CS::*M>
void write_hex(const KeyDef& k, const CS& s, Entries& e) {
    e.push_back(pair(k.key, hex24(s.*M)));
}
template <Colour CS::*M>
SettingValue get_hex(const CS& s) {
    return int64_t{s.*M & 0xFFFFFF};
}

template <std::u16string CS::*M>
bool read_text(CS& s, std::u16string_view v) {
    if (v.size() > kMaxSettingText)
        return false;
    s.*M = std::u16string(v);
    return true;
}
template <std::u16string CS::*M>
SettingValue get_text(const CS& s) {
    return s.*M;
}
template <std::u16string CS::*M>
void write_text_nonempty(const KeyDef& k, const CS& s, Entries& e) {
    if (!(s.*M).empty()) {
        e.push_back(pair(k.key, s.*M));
    }
}
// Whole-line paths are written with a leading '!' so the packer ends their line after them.
template <std::u16string CS::*M>
void write_path(const KeyDef& k, const CS& s, Entries& e) {
    if (!(s.*M).empty()) {
        e.push_back(u"!" + pair(k.key, s.*M));
    }
}

template <int I>
bool read_fixed_color(CS& s, std::u16string_view v) {
    auto n = parse_hex_exact(v);
    if (!n)
        return false;
    s.fixed_colors[I] = *n;
    return true;
}
template <int I>
void write_fixed_color(const KeyDef& k, const CS& s, Entries& e) {
    e.push_back(pair(k.key, hex24(s.fixed_colors[I])));
}
template <int I>
SettingValue get_fixed_color(const CS& s) {
    return int64_t{s.fixed_colors[I] & 0xFFFFFF};
}

// --- keys with their own rules ---------------------------------------------------------------

bool read_back_picture(CS& s, std::u16string_view v) {
    if (v.size() > kMaxSettingText)
        return false;
    s.back_picture = std::u16string(v);
    s.back_movie.clear();
    return true;
}
bool read_back_movie(CS& s, std::u16string_view v) {
    if (v.size() > kMaxSettingText)
        return false;
    s.back_movie = std::u16string(v);
    s.back_picture.clear();
    return true;
}
// A background picture or movie path with a line end in it is not written (it would not read
// back), so it must not decide what else is written either: the background colour would be
// lost with it.
bool path_written(const std::u16string& path) {
    return !path.empty() && path.find_first_of(u"\r\n") == std::u16string::npos;
}
bool movie_written(const CS& s) {
    return path_written(s.back_movie) && !path_written(s.back_picture);
}

void write_back_movie(const KeyDef& k, const CS& s, Entries& e) {
    if (movie_written(s)) {
        e.push_back(u"!" + pair(k.key, s.back_movie));
    }
}
void write_back_offset(const KeyDef& k, const CS& s, Entries& e) {
    if (movie_written(s) && !s.back_offset.empty()) {
        e.push_back(pair(k.key, s.back_offset));
    }
}
template <int32_t CS::*M>
void write_crop(const KeyDef& k, const CS& s, Entries& e) {
    if (movie_written(s) && s.*M != 0) {
        e.push_back(pair(k.key, format_int(s.*M)));
    }
}
void write_back_color(const KeyDef& k, const CS& s, Entries& e) {
    if (!path_written(s.back_picture) && !path_written(s.back_movie)) {
        e.push_back(pair(k.key, hex24(s.back_color)));
    }
}

// A frame rate whose text cannot be saved (a line end, or ';', which ends a value) is refused:
// the segments and times written in frames depend on the rates, and a rate left out of a save
// would make the whole settings line unreadable when the file is loaded again.
bool rate_text_saves(std::u16string_view v) {
    return v.size() <= kMaxSettingText && v.find_first_of(u"\r\n;") == std::u16string_view::npos;
}

bool read_fps_in(CS& s, std::u16string_view v) {
    if (!rate_text_saves(v))
        return false;
    s.timing.fps_in_text = std::u16string(v);
    recompute_rates(s.timing, s.iauthor());
    return true;
}
bool read_fps_out(CS& s, std::u16string_view v) {
    if (!rate_text_saves(v))
        return false;
    s.timing.fps_out_text = std::u16string(v);
    recompute_rates(s.timing, s.iauthor());
    return true;
}
SettingValue get_fps_in(const CS& s) {
    return s.timing.fps_in_text;
}
SettingValue get_fps_out(const CS& s) {
    return s.timing.fps_out_text;
}
void write_fps_in(const KeyDef& k, const CS& s, Entries& e) {
    if (!s.timing.fps_in_text.empty()) {
        e.push_back(pair(k.key, s.timing.fps_in_text));
    }
}
void write_fps_out(const KeyDef& k, const CS& s, Entries& e) {
    if (!s.timing.fps_out_text.empty() && !s.timing.drop_frame) {
        e.push_back(pair(k.key, s.timing.fps_out_text));
    }
}
bool read_drop_frame(CS& s, std::u16string_view v) {
    auto b = parse_bool(v);
    if (!b)
        return false;
    s.timing.drop_frame = *b;
    return true;
}
void write_drop_frame(const KeyDef& k, const CS& s, Entries& e) {
    if (s.timing.drop_frame) {
        e.push_back(pair(k.key, u"1"));
    }
}
SettingValue get_drop_frame(const CS& s) {
    return s.timing.drop_frame;
}

void write_line_spacing(const KeyDef& k, const CS& s, Entries& e) {
    if (s.line_spacing > 0 && s.line_spacing != 100) {
        e.push_back(pair(k.key, format_int(s.line_spacing)));
    }
}

bool read_minus2(CS& s, std::u16string_view v) {
    auto n = parse_ranged(v, 0, 3);
    if (!n)
        return false;
    s.minus2 = *n == 1 ? 2 : *n;
    return true;
}

bool read_img_type(CS& s, std::u16string_view v) {
    for (auto key : kImageTypeKeys) {
        if (v == key) {
            s.img_type = std::u16string(key);
            return true;
        }
    }
    return false;
}
void write_always_text(const KeyDef& k, const CS& s, Entries& e) {
    e.push_back(pair(k.key, s.img_type));
}

bool read_scr_type(CS& s, std::u16string_view v) {
    auto t = script_type_from_key(v);
    if (!t)
        return false;
    s.scr_type = *t;
    return true;
}
void write_scr_type(const KeyDef& k, const CS& s, Entries& e) {
    e.push_back(pair(k.key, script_type_key(s.scr_type)));
}
SettingValue get_scr_type(const CS& s) {
    return std::u16string(script_type_key(s.scr_type));
}

bool is_quoted(std::u16string_view name) {
    return name.size() >= 2 && name.front() == u'"' && name.back() == u'"';
}

// Whether a name is listed in quotes. The list's entries are read with blanks trimmed, so a name
// that starts or ends with a blank (a tab) is listed as "name". A name that looks like such a
// quoted entry (a style really called `" A"`, quotes included) is quoted once more, or it would
// read back as ` A`. Every other name is listed as it is, as it always was.
bool needs_quotes(std::u16string_view name) {
    while (true) {
        if (!name.empty() && (base::is_blank(name.front()) || base::is_blank(name.back()))) {
            return true;
        }
        if (!is_quoted(name)) {
            return false;
        }
        name = name.substr(1, name.size() - 2);
    }
}

bool read_style_order(CS& s, std::u16string_view v) {
    s.style_order.clear();
    for (auto name : split(v, u',')) {
        // Only what needs_quotes would have quoted is unquoted: a style named "A" (with its
        // quotes) stays listed under that name.
        if (is_quoted(name) && needs_quotes(name.substr(1, name.size() - 2))) {
            name = name.substr(1, name.size() - 2);
        }
        if (!name.empty()) {
            s.style_order.emplace_back(name);
        }
    }
    return true;
}
// A name holding ';' or a line end is left out: read back, it would end the entry early and
// break the rest of its settings line. The style then simply ranks with the unlisted ones.
void write_style_order(const KeyDef& k, const CS& s, Entries& e) {
    std::vector<std::u16string> names;
    for (const auto& name : s.style_order) {
        // A line end in a name would end the settings line (and drop the whole list).
        if (name.find_first_of(u";\r\n") == std::u16string::npos) {
            names.push_back(needs_quotes(name) ? u'"' + name + u'"' : name);
        }
    }
    e.push_back(pair(k.key, join(names, u',')));
}
SettingValue get_style_order(const CS& s) {
    return s.style_order;
}

constexpr int32_t kVerticalGuideBit = INT32_MIN;

template <bool Vertical>
bool read_guides(CS& s, std::u16string_view v) {
    auto list = parse_int_list(v);
    if (!list)
        return false;
    for (int32_t g : *list) {
        s.guides.push_back(Vertical ? (g | kVerticalGuideBit) : g);
    }
    return true;
}
template <bool Vertical>
std::vector<int32_t> guides_of(const CS& s) {
    std::vector<int32_t> out;
    for (int32_t g : s.guides) {
        if (((g & kVerticalGuideBit) != 0) == Vertical) {
            out.push_back(Vertical ? (g & ~kVerticalGuideBit) : g);
        }
    }
    return out;
}
// Reading appends the guides of every entry, so a long list is written as several entries that
// each fit a settings line.
constexpr size_t kGuidesPerEntry = 16;
template <bool Vertical>
void write_guides(const KeyDef& k, const CS& s, Entries& e) {
    const auto list = guides_of<Vertical>(s);
    for (size_t i = 0; i < list.size(); i += kGuidesPerEntry) {
        const size_t end = std::min(list.size(), i + kGuidesPerEntry);
        e.push_back(
            pair(k.key, join(std::vector<int32_t>(list.begin() + i, list.begin() + end), u',')));
    }
}
template <bool Vertical>
SettingValue get_guides(const CS& s) {
    std::vector<int64_t> out;
    for (int32_t g : guides_of<Vertical>(s)) {
        out.push_back(g);
    }
    return out;
}

bool read_dvd_seg(CS& s, std::u16string_view v) {
    if (s.pending_dvd_segments.size() + s.dvd_segments.size() >= kMaxDvdSegments) {
        return false;
    }
    auto seg = parse_dvd_segment_value(v);
    if (!seg)
        return false;
    s.pending_dvd_segments.push_back(*seg);
    return true;
}
std::u16string dvd_segment_value(const DvdSegment& seg) {
    std::u16string out = format_smpte(seg.start, u':');
    if (seg.end) {
        out += u'/';
        out += format_smpte(*seg.end, u':');
    }
    return out;
}
void write_dvd_seg(const KeyDef& k, const CS& s, Entries& e) {
    for (const auto& seg : s.dvd_segments) {
        e.push_back(pair(k.key, dvd_segment_value(seg)));
    }
}
SettingValue get_dvd_seg(const CS& s) {
    std::vector<std::u16string> out;
    for (const auto& seg : s.dvd_segments) {
        out.push_back(dvd_segment_value(seg));
    }
    for (const auto& p : s.pending_dvd_segments) {
        std::u16string v = format_script_time(p.start, false);
        if (p.end) {
            v += u'/' + format_script_time(*p.end, false);
        }
        out.push_back(v);
    }
    return out;
}

bool read_code_page(CS& s, std::u16string_view v) {
    auto n = parse_ranged(v, -1, 255);
    if (!n)
        return false;
    s.code_page = *n;
    return true;
}
bool read_mb_code_page(CS& s, std::u16string_view v) {
    auto n = parse_int_exact(v);
    if (!n || (*n != 0 && !is_valid_code_page(*n)))
        return false;
    s.mb_code_page = *n;
    return true;
}

bool read_segment(CS& s, std::u16string_view v) {
    auto seg = parse_legacy_segment(v);
    if (!seg)
        return false;
    s.legacy_segments.push_back(*seg);
    return true;
}
void write_segment(const KeyDef& k, const CS& s, Entries& e) {
    for (const auto& seg : s.legacy_segments) {
        e.push_back(pair(k.key, format_legacy_segment(seg)));
    }
}
SettingValue get_segment(const CS& s) {
    std::vector<std::u16string> out;
    for (const auto& seg : s.legacy_segments) {
        out.push_back(format_legacy_segment(seg));
    }
    return out;
}

bool read_expected(CS& s, std::u16string_view v) {
    auto n = parse_int_exact(v);
    if (!n)
        return false;
    s.expected_count = *n;
    return true;
}
SettingValue get_expected(const CS& s) {
    return int64_t{s.expected_count};
}

// Keys read from older files and never written.
bool read_background(CS& s, std::u16string_view v) {
    if (!v.empty() && v.front() == u'#') {
        if (auto n = parse_hex_exact(v.substr(1))) {
            s.back_color = *n;
            return true;
        }
    }
    s.back_color = 0x504040;
    return read_back_picture(s, v);
}
bool read_lie_tiff(CS& s, std::u16string_view v) {
    auto b = parse_bool(v);
    if (!b)
        return false;
    if (*b)
        s.img_type = u"tif";
    return true;
}
bool read_43comp(CS& s, std::u16string_view v) {
    auto b = parse_bool(v);
    if (!b)
        return false;
    s.comp = *b ? 1 : 0;
    return true;
}
bool read_bpp(CS& s, std::u16string_view v) {
    auto n = parse_int_exact(v);
    if (!n || (*n != 4 && *n != 8))
        return false;
    if (s.img_type != u"tif") {
        s.img_type = *n == 4 ? u"bmp4" : u"bmp8";
    }
    return true;
}

constexpr int32_t kIntMin = INT32_MIN;
constexpr int32_t kIntMax = INT32_MAX;

// A whole-number key read in the range lo-hi: the range serves the reader and is listed.
template <int32_t CS::*M, int32_t Lo, int32_t Hi>
constexpr KeyDef int_key(std::u16string_view key, void (*write)(const KeyDef&, const CS&, Entries&),
                         When when = When::Always) {
    return KeyDef{key, false, read_int<M, Lo, Hi>, write, get_int<M>, when, true, Lo, Hi};
}

// The key table, in written order.
const KeyDef kKeys[] = {
    {u"OutputFile", true, read_text<&CS::output_file>, write_path<&CS::output_file>,
     get_text<&CS::output_file>},
    {u"HonorFile", true, read_text<&CS::honor_file>, write_path<&CS::honor_file>,
     get_text<&CS::honor_file>},
    {u"BackPicture", true, read_back_picture, write_path<&CS::back_picture>,
     get_text<&CS::back_picture>},
    {u"BackMovie", true, read_back_movie, write_back_movie, get_text<&CS::back_movie>},
    {u"BackOffset", false, read_text<&CS::back_offset>, write_back_offset,
     get_text<&CS::back_offset>},
    int_key<&CS::crop_above, 0, 600>(u"CropAbove", write_crop<&CS::crop_above>),
    int_key<&CS::crop_below, 0, 600>(u"CropBelow", write_crop<&CS::crop_below>),
    {u"BackColor", false, read_hex<&CS::back_color>, write_back_color, get_hex<&CS::back_color>},
    {u"DoLevels", false, read_bool<&CS::do_levels>, write_bool<&CS::do_levels>,
     get_bool<&CS::do_levels>, When::On},
    {u"NoSound", false, read_bool<&CS::no_sound>, write_bool<&CS::no_sound>,
     get_bool<&CS::no_sound>, When::On},
    {u"AutoDetach", false, read_bool<&CS::auto_detach>, write_bool<&CS::auto_detach>,
     get_bool<&CS::auto_detach>, When::On},
    {u"FPSin", false, read_fps_in, write_fps_in, get_fps_in},
    {u"FPSout", false, read_fps_out, write_fps_out, get_fps_out},
    {u"DropFrame", false, read_drop_frame, write_drop_frame, get_drop_frame},
    int_key<&CS::colors, 1, 3>(u"Colors", write_int<&CS::colors>),
    int_key<&CS::res_x, 60, 4800>(u"ResX", write_int<&CS::res_x>),
    int_key<&CS::res_y, 60, 4800>(u"ResY", write_int<&CS::res_y>),
    int_key<&CS::tab_width, 1, 200>(u"TabWidth", write_int<&CS::tab_width>),
    {u"OutputBackground", false, read_hex<&CS::output_background>,
     write_hex<&CS::output_background>, get_hex<&CS::output_background>},
    int_key<&CS::safe_frm, 0, 99>(u"SafeFrm", write_int<&CS::safe_frm>),
    {u"ClipMinusOnePixel", false, read_bool<&CS::clip_minus_one_pixel>,
     write_bool<&CS::clip_minus_one_pixel>, get_bool<&CS::clip_minus_one_pixel>, When::Always},
    {u"DVDSeparate", false, read_bool<&CS::dvd_separate>, write_bool<&CS::dvd_separate>,
     get_bool<&CS::dvd_separate>, When::On},
    int_key<&CS::fixed_width, 60, 4800>(u"FixedWidth", write_int<&CS::fixed_width>, When::Positive),
    int_key<&CS::line_spacing, 0, 2000>(u"LineSpacing", write_line_spacing),
    int_key<&CS::char_spacing, -2000, 2000>(u"CharSpacing", write_int<&CS::char_spacing>,
                                            When::NonZero),
    {u"StickyColors", false, read_bool<&CS::sticky_colors>, write_bool<&CS::sticky_colors>,
     get_bool<&CS::sticky_colors>, When::On},
    {u"DontClip", false, read_bool<&CS::dont_clip>, write_bool<&CS::dont_clip>,
     get_bool<&CS::dont_clip>, When::On},
    {u"ScaleScreen", false, read_bool<&CS::scale_screen>, write_bool<&CS::scale_screen>,
     get_bool<&CS::scale_screen>, When::Off},
    {u"RightToLeft", false, read_bool<&CS::right_to_left>, write_bool<&CS::right_to_left>,
     get_bool<&CS::right_to_left>, When::On},
    // Written even when 0: a missing Minus2 reads back as the default 2.
    {u"Minus2", false, read_minus2, write_int<&CS::minus2>, get_int<&CS::minus2>, When::Always},
    {u"IntellColl", false, read_bool<&CS::intell_coll>, write_bool<&CS::intell_coll>,
     get_bool<&CS::intell_coll>, When::On},
    {u"CollForesee", false, read_bool<&CS::coll_foresee>, write_bool<&CS::coll_foresee>,
     get_bool<&CS::coll_foresee>, When::Always},
    {u"NoHrzColl", false, read_bool<&CS::no_hrz_coll>, write_bool<&CS::no_hrz_coll>,
     get_bool<&CS::no_hrz_coll>, When::On},
    {u"ShowSafe", false, read_bool<&CS::show_safe>, write_bool<&CS::show_safe>,
     get_bool<&CS::show_safe>, When::Off},
    {u"ShowGuides", false, read_bool<&CS::show_guides>, write_bool<&CS::show_guides>,
     get_bool<&CS::show_guides>, When::Off},
    {u"ShowSnaps", false, read_bool<&CS::show_snaps>, write_bool<&CS::show_snaps>,
     get_bool<&CS::show_snaps>, When::Off},
    {u"FullWidth", false, read_bool<&CS::full_width>, write_bool<&CS::full_width>,
     get_bool<&CS::full_width>, When::On},
    int_key<&CS::compatible, kIntMin, kIntMax>(u"Compatible", write_int<&CS::compatible>,
                                               When::NonZero),
    {u"StopIsNext", false, read_bool<&CS::stop_is_next>, write_bool<&CS::stop_is_next>,
     get_bool<&CS::stop_is_next>, When::On},
    {u"DontCheckFR", false, read_bool<&CS::dont_check_fr>, write_bool<&CS::dont_check_fr>,
     get_bool<&CS::dont_check_fr>, When::On},
    {u"VDubOffset", false, read_text<&CS::vdub_offset>, write_text_nonempty<&CS::vdub_offset>,
     get_text<&CS::vdub_offset>},
    {u"ImgType", false, read_img_type, write_always_text, get_text<&CS::img_type>},
    {u"BWWrap", false, read_bool<&CS::bw_wrap>, write_bool<&CS::bw_wrap>, get_bool<&CS::bw_wrap>,
     When::Always},
    {u"ScrType", false, read_scr_type, write_scr_type, get_scr_type},
    int_key<&CS::comp, 0, 2>(u"Comp", write_int<&CS::comp>),
    {u"Color0", false, read_fixed_color<0>, write_fixed_color<0>, get_fixed_color<0>},
    {u"Color1", false, read_fixed_color<1>, write_fixed_color<1>, get_fixed_color<1>},
    {u"Color2", false, read_fixed_color<2>, write_fixed_color<2>, get_fixed_color<2>},
    {u"Color3", false, read_fixed_color<3>, write_fixed_color<3>, get_fixed_color<3>},
    {u"StyleOrder", false, read_style_order, write_style_order, get_style_order},
    {u"VGuides", false, read_guides<true>, write_guides<true>, get_guides<true>},
    {u"HGuides", false, read_guides<false>, write_guides<false>, get_guides<false>},
    {u"DVDSeg", false, read_dvd_seg, write_dvd_seg, get_dvd_seg},
    {u"CodePage", false, read_code_page, write_int<&CS::code_page>, get_int<&CS::code_page>},
    {u"MBCodePage", false, read_mb_code_page, write_int<&CS::mb_code_page>,
     get_int<&CS::mb_code_page>, When::NonZero},
    {u"Segment", false, read_segment, write_segment, get_segment},
    {u"Expected", false, read_expected, nullptr, get_expected},
    // Read from older files, never written.
    {u"Background", true, read_background, nullptr, nullptr},
    {u"LieTIFF", false, read_lie_tiff, nullptr, nullptr},
    {u"43Comp", false, read_43comp, nullptr, nullptr},
    {u"BPP", false, read_bpp, nullptr, nullptr},
};

}  // namespace

std::vector<std::u16string_view> setting_keys() {
    std::vector<std::u16string_view> keys;
    for (const auto& k : kKeys) {
        keys.push_back(k.key);
    }
    return keys;
}

namespace {

const KeyDef* find_key(std::u16string_view key) {
    for (const auto& k : kKeys) {
        if (iequals(k.key, key)) {
            return &k;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<SettingKeyInfo> setting_key_info(std::u16string_view key) {
    const KeyDef* k = find_key(key);
    if (k == nullptr) {
        return std::nullopt;
    }
    SettingKeyInfo info;
    info.key = k->key;
    if (k->ranged) {
        info.range = std::make_pair(k->lo, k->hi);
    }
    const SettingsValues defaults;
    if (k->get != nullptr) {
        info.default_value = k->get(defaults);
    }
    info.default_entries = written_entries(k->key, defaults);
    return info;
}

std::vector<std::u16string> written_entries(std::u16string_view key, const SettingsValues& values) {
    std::vector<std::u16string> entries;
    const KeyDef* k = find_key(key);
    if (k != nullptr && k->write != nullptr) {
        k->write(*k, values, entries);
    }
    return entries;
}

namespace {

bool is_expected_key(const KeyDef& k) {
    return k.key == u"Expected";
}

}  // namespace

std::u16string_view script_type_key(ScriptType t) {
    return kScriptTypeKeys[static_cast<int>(t)];
}

std::u16string_view script_type_extension(ScriptType t) {
    return kScriptTypeExtensions[static_cast<int>(t)];
}

std::optional<ScriptType> script_type_from_key(std::u16string_view key) {
    if (key.empty()) {
        return ScriptType::SON;
    }
    for (int i = 0; i < kScriptTypeCount; ++i) {
        if (key == kScriptTypeKeys[i]) {
            return static_cast<ScriptType>(i);
        }
    }
    return std::nullopt;
}

const std::array<std::u16string_view, 10>& image_type_keys() {
    return kImageTypeKeys;
}

bool is_simple_offset(const std::vector<LegacySegment>& list) {
    if (list.empty()) {
        return true;
    }
    if (list.size() != 1) {
        return false;
    }
    const auto& s = list.front();
    return !s.start && !s.stop && !s.src_pos && s.dst_pos && s.dst_pos->smpte;
}

bool read_settings_payload(ConversionSettings& s, std::u16string_view payload) {
    if (!s.settings_seen) {
        s.settings_seen = true;
        s.intell_coll = false;
        s.coll_foresee = false;
        s.sticky_colors = false;
        s.comp = 0;
    }
    bool any = false;
    size_t pos = 0;
    while (true) {
        while (pos < payload.size() && base::is_blank(payload[pos]))
            ++pos;
        if (pos >= payload.size()) {
            return any;
        }
        size_t eq = payload.find(u'=', pos);
        if (eq == std::u16string_view::npos) {
            return false;
        }
        auto key = trim_blanks(payload.substr(pos, eq - pos));
        const KeyDef* def = find_key(key);
        if (def == nullptr) {
            return false;
        }
        std::u16string_view value;
        if (def->whole_line) {
            value = trim_blanks(payload.substr(eq + 1));
            pos = payload.size();
        } else {
            size_t semi = payload.find(u';', eq + 1);
            value = trim_blanks(
                payload.substr(eq + 1, semi == std::u16string_view::npos ? semi : semi - eq - 1));
            pos = semi == std::u16string_view::npos ? payload.size() : semi + 1;
        }
        if (!def->read(s, value)) {
            return false;
        }
        if (!is_expected_key(*def)) {
            ++s.settings_count;
        }
        any = true;
    }
}

bool apply_setting(ConversionSettings& s, std::u16string_view key, std::u16string_view value) {
    const KeyDef* def = find_key(trim_blanks(key));
    if (def == nullptr) {
        return false;
    }
    if (!def->whole_line && value.find(u';') != std::u16string_view::npos) {
        return false;
    }
    return def->read(s, trim_blanks(value));
}

bool is_setting_key(std::u16string_view key) {
    return find_key(key) != nullptr;
}

bool read_user_payload(std::optional<UserOverride>& pending, std::u16string_view payload) {
    for (auto item : split(payload, u';')) {
        if (item.empty()) {
            continue;
        }
        size_t eq = item.find(u'=');
        if (eq == std::u16string_view::npos) {
            return false;
        }
        auto key = trim_blanks(item.substr(0, eq));
        auto value = trim_blanks(item.substr(eq + 1));
        if (!pending) {
            pending.emplace();
        }
        UserOverride& uo = *pending;
        if (iequals(key, u"ABSOLUTEIN") || iequals(key, u"ABSOLUTEOUT")) {
            auto& slot = iequals(key, u"ABSOLUTEIN") ? uo.absolute_in : uo.absolute_out;
            auto t = parse_script_time(value, true, true);
            if (slot || !t || !t->time.smpte) {
                return false;
            }
            slot = t->time;
        } else if (iequals(key, u"POSX") || iequals(key, u"POSY")) {
            int32_t& slot = iequals(key, u"POSX") ? uo.pos_x : uo.pos_y;
            auto n = parse_int_exact(value);
            if (slot != UserOverride::kUnsetPosition || !n || *n == UserOverride::kUnsetPosition) {
                return false;
            }
            slot = *n;
        } else if (iequals(key, u"SNAPX") || iequals(key, u"SNAPY")) {
            auto n = parse_ranged(value, 0, 2);
            if (!n) {
                return false;
            }
            (iequals(key, u"SNAPX") ? uo.snap_x : uo.snap_y) = *n;
        } else {
            return false;
        }
    }
    return true;
}

namespace {

// Whether an entry reads back as written: a line end inside a value would end the comment line
// (and start another), and ';' ends the value of a key that does not take the rest of its line.
// Such values come only from outside the script (an old settings file, the command line).
bool reads_back(std::u16string_view entry) {
    const bool whole = !entry.empty() && entry.front() == u'!';
    const std::u16string_view value = entry.substr(entry.find(u'=') + 1);
    return value.find_first_of(u"\r\n") == std::u16string_view::npos &&
           (whole || value.find(u';') == std::u16string_view::npos);
}

}  // namespace

std::vector<std::u16string> settings_entries(const ConversionSettings& s) {
    Entries entries;
    for (const auto& k : kKeys) {
        if (k.write != nullptr) {
            k.write(k, s, entries);
        }
    }
    std::erase_if(entries, [](const std::u16string& e) { return !reads_back(e); });
    entries.push_back(u"Expected=" + format_int(static_cast<int64_t>(entries.size())));
    return entries;
}

std::vector<std::u16string> pack_settings_entries(const std::vector<std::u16string>& entries) {
    constexpr size_t kMaxPayload = 158;
    std::vector<std::u16string> payloads;
    std::u16string payload;
    bool previous_whole = false;
    for (const auto& entry : entries) {
        bool whole = !entry.empty() && entry.front() == u'!';
        std::u16string_view body = whole ? std::u16string_view(entry).substr(1) : entry;
        if (!payload.empty() &&
            (previous_whole || payload.size() + entry.size() + 1 > kMaxPayload)) {
            payloads.push_back(payload);
            payload.clear();
        }
        if (!payload.empty()) {
            payload += u';';
        }
        payload += body;
        previous_whole = whole;
    }
    if (!payload.empty()) {
        payloads.push_back(payload);
    }
    return payloads;
}

namespace {
constexpr std::u16string_view kCommentPrefix =
    u"Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0000,0000,0000,,";
}

std::vector<std::u16string> settings_lines(const ConversionSettings& s) {
    std::vector<std::u16string> lines;
    for (const auto& payload : pack_settings_entries(settings_entries(s))) {
        lines.push_back(std::u16string(kCommentPrefix) + u"TSRACONF: " + payload);
    }
    return lines;
}

std::u16string style_extras_text(const Style& st) {
    std::u16string out;
    auto add = [&](std::u16string_view key, int32_t v, int32_t def) {
        if (v != def) {
            if (!out.empty()) {
                out += u';';
            }
            out += pair(key, format_int(v));
        }
    };
    add(u"LineSpacing", st.line_spacing, 0);
    add(u"ExtraSpace", st.extra_space, Style::kUnsetExtraSpace);
    add(u"ItalicsLeft", st.italics_left, 0);
    add(u"ItalicsRight", st.italics_right, 0);
    add(u"FaceTHLD", st.face_threshold, 85);
    add(u"AAliasTHLD", st.aa_threshold, 200);
    add(u"AAliasAvg", st.aa_average, 50);
    add(u"FontFlags", st.font_flags, Style::kDefaultFontFlags);
    return out;
}

std::u16string style_extras_line(const Style& style) {
    std::u16string extras = style_extras_text(style);
    if (extras.empty()) {
        return {};
    }
    return std::u16string(kCommentPrefix) + u"TSRASTYLE: " + style.name + u";" + extras;
}

bool read_style_extras(Style& style, std::u16string_view extras) {
    bool recolour = false;
    for (auto item : split(extras, u';')) {
        if (item.empty()) {
            continue;
        }
        size_t eq = item.find(u'=');
        if (eq == std::u16string_view::npos) {
            return false;
        }
        auto key = trim_blanks(item.substr(0, eq));
        auto n = parse_int_exact(trim_blanks(item.substr(eq + 1)));
        if (!n) {
            return false;
        }
        if (iequals(key, u"LineSpacing")) {
            style.line_spacing = *n;
        } else if (iequals(key, u"ExtraSpace")) {
            style.extra_space = *n;
        } else if (iequals(key, u"ItalicsLeft")) {
            style.italics_left = *n;
        } else if (iequals(key, u"ItalicsRight")) {
            style.italics_right = *n;
        } else if (iequals(key, u"FaceTHLD")) {
            style.face_threshold = *n;
            recolour = true;
        } else if (iequals(key, u"AAliasTHLD")) {
            style.aa_threshold = *n;
            recolour = true;
        } else if (iequals(key, u"AAliasAvg")) {
            style.aa_average = *n;
            recolour = true;
        } else if (iequals(key, u"FontFlags")) {
            style.font_flags = *n;
        } else {
            return false;
        }
        if (recolour) {
            style.synthesise_antialias();
        }
    }
    return true;
}

std::u16string user_override_line(const UserOverride& uo, ScriptTime event_start) {
    if (!uo.has_absolute() && !uo.has_position()) {
        return {};
    }
    std::u16string items;
    auto add = [&](std::u16string item) {
        if (!items.empty()) {
            items += u';';
        }
        items += item;
    };
    if (uo.absolute_in) {
        add(u"ABSOLUTEIN=" + format_script_time(*uo.absolute_in, false));
    }
    if (uo.absolute_out) {
        add(u"ABSOLUTEOUT=" + format_script_time(*uo.absolute_out, false));
    }
    if (uo.pos_x != UserOverride::kUnsetPosition) {
        add(u"POSX=" + format_int(uo.pos_x) + u";SNAPX=" + format_int(uo.snap_x));
    }
    if (uo.pos_y != UserOverride::kUnsetPosition) {
        add(u"POSY=" + format_int(uo.pos_y) + u";SNAPY=" + format_int(uo.snap_y));
    }
    ScriptTime end{event_start.value + 50, false};
    return u"Comment: Marked=0," + format_script_time(event_start, true) + u"," +
           format_script_time(end, true) + u",*Default,,0000,0000,0000,,TSRAUSER: " + items;
}

namespace {

// The source path with its extension replaced. A path whose last component has no '.' gets the
// extension appended.
std::u16string replace_extension(const std::u16string& path, std::u16string_view ext) {
    size_t sep = path.find_last_of(u"/\\");
    size_t dot = path.rfind(u'.');
    if (dot == std::u16string::npos || (sep != std::u16string::npos && dot < sep)) {
        return path + u"." + std::u16string(ext);
    }
    return path.substr(0, dot + 1) + std::u16string(ext);
}

}  // namespace

bool post_load(ConversionSettings& s, base::Messages& messages) {
    if (s.timing.drop_frame) {
        s.timing.fps_out_text = u"29.97";
    }
    recompute_rates(s.timing, s.iauthor());
    if (s.coll_foresee) {
        s.intell_coll = true;
    }
    if (s.settings_count != s.expected_count) {
        messages.warn(kSettingCountMismatchText);
    }
    if (!is_simple_offset(s.legacy_segments)) {
        messages.warn(kOldSegmentsText);
    }
    if (s.output_file.empty() && !s.source_path.empty()) {
        s.output_file = replace_extension(s.source_path, script_type_extension(s.scr_type));
    }
    convert_pending_segments(s, messages);
    return true;
}

void convert_pending_segments(ConversionSettings& s, base::Messages& messages) {
    if (s.pending_dvd_segments.empty()) {
        return;
    }
    TimingSettings timing = s.timing;
    if (validate_timing(timing, s.iauthor(), nullptr, true)) {
        for (const auto& p : s.pending_dvd_segments) {
            DvdSegment seg;
            seg.start = frame_time_from_script_time(p.start, timing);
            if (p.end) {
                seg.end = frame_time_from_script_time(*p.end, timing);
            }
            s.dvd_segments.push_back(seg);
        }
    } else {
        messages.warn(kSegmentsNotImportedText);
    }
    s.pending_dvd_segments.clear();
}

std::optional<PendingDvdSegment> parse_dvd_segment_value(std::u16string_view value) {
    auto first = parse_script_time(value, false, true);
    if (!first) {
        return std::nullopt;
    }
    PendingDvdSegment seg{first->time, std::nullopt};
    auto rest = value.substr(first->end);
    if (rest.empty()) {
        return seg;
    }
    if (rest.front() != u'/') {
        return std::nullopt;
    }
    auto second = parse_script_time(rest.substr(1), true, true);
    if (!second) {
        return std::nullopt;
    }
    seg.end = second->time;
    return seg;
}

std::vector<DvdSegment> parse_segment_text(std::u16string_view text, const TimingSettings& timing,
                                           bool end_as_next_frame) {
    std::vector<DvdSegment> out;
    size_t line_start = 0;
    while (line_start <= text.size() && out.size() < kMaxDvdSegments) {
        size_t nl = text.find(u'\n', line_start);
        std::u16string_view line =
            text.substr(line_start, nl == std::u16string_view::npos ? std::u16string_view::npos
                                                                    : nl - line_start);
        line_start = nl == std::u16string_view::npos ? text.size() + 1 : nl + 1;
        if (!line.empty() && line.back() == u'\r') {
            line.remove_suffix(1);
        }
        auto body = trim_blanks(line);
        if (body.empty() || body.front() == u';') {
            continue;
        }
        std::optional<ScriptTime> times[2];
        int found = 0;
        size_t i = 0;
        while (i < body.size() && found < 2) {
            if (!base::is_digit(body[i])) {
                ++i;
                continue;
            }
            if (auto t = parse_script_time(body.substr(i), false, true)) {
                times[found++] = t->time;
                i += t->end;
            } else {
                while (i < body.size() && base::is_digit(body[i]))
                    ++i;
            }
        }
        if (found == 0) {
            continue;
        }
        DvdSegment seg;
        seg.start = frame_time_from_script_time(*times[0], timing);
        if (found == 2) {
            FrameTime end = frame_time_from_script_time(*times[1], timing);
            if (end_as_next_frame) {
                --end;
            }
            if (!(end > seg.start)) {
                continue;
            }
            seg.end = end;
        }
        out.push_back(seg);
    }
    std::stable_sort(out.begin(), out.end(), [](const DvdSegment& a, const DvdSegment& b) {
        if (a.start != b.start) {
            return a.start < b.start;
        }
        if (a.end.has_value() != b.end.has_value()) {
            return a.end.has_value();  // a range before a chapter point
        }
        return a.end && b.end && *a.end < *b.end;
    });
    return out;
}

std::u16string format_segment_text(const std::vector<DvdSegment>& segments,
                                   bool end_as_next_frame) {
    std::u16string out;
    for (const auto& seg : segments) {
        if (seg.end) {
            FrameTime end = *seg.end;
            if (end_as_next_frame) {
                ++end;
            }
            out += u"Segment range from " + format_smpte(seg.start, u':') + u" to " +
                   format_smpte(end, u':') + u"\r\n";
        } else {
            out += u"Chapter point at " + format_smpte(seg.start, u':') + u"\r\n";
        }
    }
    return out;
}

std::optional<LegacySegment> parse_legacy_segment(std::u16string_view value) {
    auto fields = split(value, u',');
    if (fields.size() != 4) {
        return std::nullopt;
    }
    LegacySegment seg;
    std::optional<ScriptTime>* slots[4] = {&seg.start, &seg.stop, &seg.src_pos, &seg.dst_pos};
    for (int i = 0; i < 4; ++i) {
        if (fields[i] == u"*") {
            continue;
        }
        auto t = parse_script_time(fields[i], true, i == 3);
        if (!t) {
            return std::nullopt;
        }
        *slots[i] = t->time;
    }
    return seg;
}

std::u16string format_legacy_segment(const LegacySegment& seg) {
    std::u16string out;
    const std::optional<ScriptTime>* slots[4] = {&seg.start, &seg.stop, &seg.src_pos, &seg.dst_pos};
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            out += u',';
        }
        out += *slots[i] ? format_script_time(**slots[i], false) : u"*";
    }
    return out;
}

std::vector<DescribedSetting> describe_settings(const ConversionSettings& s) {
    std::vector<DescribedSetting> out;
    for (const auto& k : kKeys) {
        if (k.get != nullptr) {
            out.push_back({k.key, k.get(s)});
        }
    }
    return out;
}

}  // namespace tessara::script
