#include "script/settings_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "base/file_io.h"
#include "base/messages.h"
#include "base/text.h"
#include "script/script.h"
#include "script/ssa_reader.h"

namespace tessara::script {

const char* const kInvalidSettingsFileText = "This is not a valid configuration file";

namespace {

using base::utf8_to_utf16;

// An INI file as the system's profile functions read it: section and value names compare
// without regard to case, values are trimmed and cut to 511 characters.
class IniFile {
  public:
    void load(std::string_view bytes) {
        std::string section;
        while (!bytes.empty()) {
            const size_t nl = bytes.find('\n');
            std::string_view line = bytes.substr(0, nl);
            bytes.remove_prefix(nl == std::string_view::npos ? bytes.size() : nl + 1);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            std::string_view v = base::trim_ascii(line);
            if (v.empty() || v.front() == ';') {
                continue;
            }
            if (v.front() == '[') {
                size_t close = v.find(']');
                section =
                    lower(v.substr(1, close == std::string_view::npos ? v.size() - 1 : close - 1));
                continue;
            }
            size_t eq = v.find('=');
            if (eq == std::string_view::npos) {
                continue;
            }
            std::string key = section + "\n" + lower(base::trim_ascii(v.substr(0, eq)));
            std::string value(base::trim_ascii(v.substr(eq + 1)));
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front()) {
                value = value.substr(1, value.size() - 2);
            }
            if (value.size() > 511) {
                value.resize(511);
            }
            m_values.emplace(key, value);  // the first occurrence wins
        }
    }

    std::optional<std::u16string> get(std::string_view section, std::string_view name) const {
        auto it = m_values.find(lower(section) + "\n" + lower(name));
        if (it == m_values.end()) {
            return std::nullopt;
        }
        return utf8_to_utf16(it->second);
    }

    // The names of the sections that hold at least one value, lower-cased.
    std::set<std::string> sections() const {
        std::set<std::string> out;
        for (const auto& [key, value] : m_values) {
            out.insert(key.substr(0, key.find('\n')));
        }
        return out;
    }

    bool has_section(std::string_view section) const {
        std::string prefix = lower(section) + "\n";
        auto it = m_values.lower_bound(prefix);
        return it != m_values.end() && it->first.compare(0, prefix.size(), prefix) == 0;
    }

  private:
    static std::string lower(std::string_view s) {
        std::string out(s);
        for (char& c : out) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return out;
    }

    std::map<std::string, std::string> m_values;
};

// Reads the "General" values into `s`; false on the first bad value.
// The range the settings key table checks for a whole-number key.
std::pair<int32_t, int32_t> table_range(const char* key) {
    const auto info = setting_key_info(base::utf8_to_utf16(key));
    return info && info->range ? *info->range : std::make_pair(INT32_MIN, INT32_MAX);
}

bool read_general(const IniFile& ini, ConversionSettings& s, std::string& source_file,
                  int32_t& segments) {
    auto get = [&](const char* name) { return ini.get("General", name); };
    auto get_int = [&](const char* name, int32_t def, int32_t lo, int32_t hi,
                       int32_t& out) -> bool {
        auto text = get(name);
        if (!text) {
            out = def;
            return true;
        }
        auto v = base::parse_int_exact(*text);
        if (!v || *v < lo || *v > hi) {
            return false;
        }
        out = *v;
        return true;
    };
    auto get_bool = [&](const char* name, int32_t def, bool& out) -> bool {
        int32_t v = 0;
        if (!get_int(name, def, 0, 1, v))
            return false;
        out = v != 0;
        return true;
    };
    // Empty or absent keeps `out`; otherwise within the range the settings key table gives.
    auto get_optional_int = [&](const char* name, int32_t& out) -> bool {
        auto text = get(name);
        if (!text || base::trim_blanks(*text).empty())
            return true;
        const auto range = table_range(name);
        auto v = base::parse_int_exact(*text);
        if (!v || *v < range.first || *v > range.second)
            return false;
        out = *v;
        return true;
    };

    auto seg_text = get("Segments");
    auto seg_count = seg_text ? base::parse_int_exact(*seg_text) : std::nullopt;
    if (!seg_count || *seg_count < 0) {
        return false;
    }
    segments = *seg_count;
    source_file = base::utf16_to_utf8(get("SourceFile").value_or(u""));
    s.output_file = get("OutputFile").value_or(u"");
    s.honor_file = get("HonorFile").value_or(u"");
    s.timing.fps_in_text = get("FPSin").value_or(u"");

    int32_t v = 0;
    if (!get_int("DropFrame", 0, 0, 1, v))
        return false;
    s.timing.drop_frame = v != 0;
    s.timing.fps_out_text = s.timing.drop_frame ? u"29.97" : get("FPSout").value_or(u"");
    const auto colours = table_range("Colors");
    if (!get_int("Colors", 2, colours.first, colours.second, s.colors))
        return false;
    if (!get_optional_int("ResX", s.res_x))
        return false;
    if (!get_optional_int("ResY", s.res_y))
        return false;

    if (auto text = get("FixedWidth"); text && !base::trim_blanks(*text).empty()) {
        // Below 1 is "no fixed width"; anything else must be a width the table takes.
        const auto widths = table_range("FixedWidth");
        auto w = base::parse_int_exact(*text);
        if (!w || (*w >= 1 && (*w < widths.first || *w > widths.second)))
            return false;
        s.fixed_width = *w < 1 ? 0 : *w;
    } else {
        s.fixed_width = 0;
    }
    if (auto text = get("FontScaling"); text && !base::trim_blanks(*text).empty()) {
        std::string narrow = base::utf16_to_utf8(*text);
        double d = 0;
        char extra = 0;
        if (std::sscanf(narrow.c_str(), "%lf%c", &d, &extra) != 1 || !(d >= 0 && d <= 20000)) {
            return false;
        }
        s.font_scaling = static_cast<int32_t>(d);
    }
    s.line_spacing = 0;
    if (!get_optional_int("LineSpacing", s.line_spacing))
        return false;
    if (!get_bool("StickyColors", 0, s.sticky_colors))
        return false;
    for (int i = 0; i < 4; ++i) {
        std::string name = "Color" + std::to_string(i);
        if (auto text = get(name.c_str())) {
            auto c = base::parse_hex_exact(*text);
            if (!c)
                return false;
            s.fixed_colors[i] = *c;
        }
    }
    if (!get_bool("DontClip", 0, s.dont_clip))
        return false;
    if (!get_int("Minus2", 1, 0, 3, v))
        return false;
    s.minus2 = v == 1 ? 2 : v;
    if (!get_bool("FullWidth", 1, s.full_width))
        return false;
    if (!get_bool("BWWrap", 0, s.bw_wrap))
        return false;
    if (!get_int("CodePage", -1, -1, 255, s.code_page))
        return false;
    if (auto text = get("ScrType")) {
        auto t = script_type_from_key(*text);
        if (!t)
            return false;
        s.scr_type = *t;
    }
    if (!get_int("BPP", s.iauthor() ? 4 : 8, 4, 8, v) || (v != 4 && v != 8))
        return false;
    s.img_type = v == 4 ? u"bmp4" : u"bmp8";
    if (auto text = get("StyleOrder")) {
        if (!apply_setting(s, u"StyleOrder", *text))
            return false;
    }
    return true;
}

std::string segment_section(int32_t n) {
    char section[32];
    std::snprintf(section, sizeof section, "SEGMENT%03d", static_cast<int>(n));
    return section;
}

// The numbers 1-count whose "SEGMENT%03d" section is in the file, in order. Absent sections
// are skipped anyway; visiting only the present ones keeps a huge count from looping for ages.
std::vector<int32_t> present_segments(const IniFile& ini, int32_t count) {
    std::vector<int32_t> out;
    for (const std::string& name : ini.sections()) {
        constexpr std::string_view kPrefix = "segment";
        if (name.size() <= kPrefix.size() || name.size() > kPrefix.size() + 10 ||
            name.compare(0, kPrefix.size(), kPrefix) != 0) {
            continue;
        }
        int64_t n = 0;
        bool digits = true;
        for (size_t i = kPrefix.size(); i < name.size(); ++i) {
            digits = digits && name[i] >= '0' && name[i] <= '9';
            n = n * 10 + (name[i] - '0');
        }
        if (!digits || n < 1 || n > count) {
            continue;
        }
        std::string expected = segment_section(static_cast<int32_t>(n));
        for (char& c : expected) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (expected == name) {
            out.push_back(static_cast<int32_t>(n));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool read_segments(const IniFile& ini, int32_t count, ConversionSettings& s) {
    s.legacy_segments.clear();
    for (int32_t n : present_segments(ini, count)) {
        const std::string section = segment_section(n);
        LegacySegment seg;
        bool any = false;
        const char* names[4] = {"Start", "Stop", "SrcPos", "DstPos"};
        std::optional<ScriptTime>* slots[4] = {&seg.start, &seg.stop, &seg.src_pos, &seg.dst_pos};
        for (int i = 0; i < 4; ++i) {
            auto text = ini.get(section, names[i]);
            if (!text)
                continue;
            auto t = parse_script_time(*text, true, i == 3);
            if (!t)
                return false;
            *slots[i] = t->time;
            any = true;
        }
        if (any) {
            s.legacy_segments.push_back(seg);
        }
    }
    return true;
}

// Paths in old settings files were written on another system: backslashes separate folders and a
// relative path is taken from the settings file's folder. When the path does not exist, the
// file of that name beside the settings file is tried.
std::string resolve_source(const std::string& settings_path, const std::string& source) {
    namespace fs = std::filesystem;
    std::string normal = source;
    for (char& c : normal) {
        if (c == '\\')
            c = '/';
    }
    fs::path base_dir = fs::path(settings_path).parent_path();
    fs::path p(normal);
    if (p.is_relative()) {
        p = base_dir / p;
    }
    std::error_code ec;
    if (!fs::exists(p, ec)) {
        fs::path beside = base_dir / fs::path(normal).filename();
        if (fs::exists(beside, ec)) {
            return beside.string();
        }
    }
    return p.string();
}

}  // namespace

bool read_old_settings_bytes(std::string_view bytes, ConversionSettings& settings,
                             std::string& source_file, base::Messages& messages) {
    IniFile ini;
    ini.load(bytes);
    ConversionSettings copy = settings;
    int32_t segments = 0;
    if (!read_general(ini, copy, source_file, segments) || !read_segments(ini, segments, copy)) {
        messages.error(kInvalidSettingsFileText);
        return false;
    }
    settings.assign_values(copy);
    return true;
}

bool read_old_settings_file(const std::string& path, ConversionSettings& settings,
                            std::string& source_file, base::Messages& messages) {
    int error = 0;
    std::optional<std::string> bytes = base::read_whole_file(path, error);
    if (!bytes) {
        messages.file_error(path, kInvalidSettingsFileText, std::nullopt);
        return false;
    }
    return read_old_settings_bytes(*bytes, settings, source_file, messages);
}

bool is_old_settings_path(const std::string& path) {
    constexpr std::u16string_view kExt = u".tsraconf";
    std::u16string p = utf8_to_utf16(path);
    return p.size() >= kExt.size() &&
           base::iequals(std::u16string_view(p).substr(p.size() - kExt.size()), kExt);
}

bool open_document(Script& script, const std::string& path, const ReadOptions& options,
                   base::Messages& messages) {
    if (!is_old_settings_path(path)) {
        return load_script(script, path, options, messages);
    }
    script.reset(true);
    std::string source;
    if (!read_old_settings_file(path, script.settings, source, messages)) {
        script.reset(true);
        return false;
    }
    script.settings.source_path = utf8_to_utf16(resolve_source(path, source));
    if (!load_script(script, std::nullopt, options, messages)) {
        script.reset(true);
        return false;
    }
    script.settings.modified = true;
    return true;
}

}  // namespace tessara::script
