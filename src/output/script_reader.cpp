#include "output/script_reader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <set>

namespace tessara::output {

namespace {

using script::ScriptType;

std::vector<ScriptLine> split_lines(std::string_view text) {
    std::vector<ScriptLine> lines;
    int32_t number = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back({++number, std::string(line)});
        pos = end + 1;
    }
    return lines;
}

// Fields separated by any run of the given characters.
std::vector<std::string_view> fields(std::string_view line, const char* separators) {
    std::vector<std::string_view> out;
    size_t pos = 0;
    while (pos < line.size()) {
        const size_t start = line.find_first_not_of(separators, pos);
        if (start == std::string_view::npos) {
            break;
        }
        size_t end = line.find_first_of(separators, start);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        out.push_back(line.substr(start, end - start));
        pos = end;
    }
    return out;
}

std::optional<int32_t> to_int(std::string_view text) {
    int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

// The integers of "(a b c d)" or "(a, b, c, d)" after `label`; nothing unless there are `count`.
std::optional<std::vector<int32_t>> numbers_after(std::string_view line, std::string_view label,
                                                  size_t count) {
    if (line.substr(0, label.size()) != label) {
        return std::nullopt;
    }
    std::vector<int32_t> values;
    for (std::string_view f : fields(line.substr(label.size()), "\t ,()")) {
        const auto n = to_int(f);
        if (!n) {
            return std::nullopt;
        }
        values.push_back(*n);
    }
    if (values.size() != count) {
        return std::nullopt;
    }
    return values;
}

ScriptEntry entry_at(int32_t line, std::string file = {}, std::string start = {},
                     std::string end = {}) {
    ScriptEntry e;
    e.line = line;
    e.file = std::move(file);
    e.start = std::move(start);
    e.end = std::move(end);
    return e;
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The state lines that a subpicture line takes over from the lines above it.
struct Look {
    std::string colour_line;
    std::string contrast_line;
    std::vector<int32_t> colours;
    std::vector<int32_t> contrasts;

    void put(ScriptEntry& entry) const {
        entry.look = colour_line;
        if (!contrast_line.empty()) {
            entry.look += (entry.look.empty() ? "" : "\n") + contrast_line;
        }
        entry.colour_indices = colours;
        entry.contrasts = contrasts;
    }
};

class Parser {
  public:
    Parser(ScriptType type, std::string_view text) : m_type(type), m_lines(split_lines(text)) {}

    ParsedScript run();

  private:
    void problem(const ScriptLine& line, const char* what) {
        m_out.problems.push_back("line " + std::to_string(line.number) + ": " + what);
    }
    void claim(const ScriptLine& line) { m_claimed.insert(line.number); }
    void add(ScriptEntry entry) { m_out.entries.push_back(std::move(entry)); }

    void dvd_tables();    // SON and SST
    void iauthor();       // IAU
    void tab_lists();     // IMG and SCR
    void submux();        // SMX
    void usf();           // USF
    void spumux();        // SPU
    void vobsub_index();  // VOBSUB

    // "FILE START END W H X Y" (tab-separated) as IMG and SCR write it.
    bool picture_line(const ScriptLine& line, const Look& look);

    ScriptType m_type;
    std::vector<ScriptLine> m_lines;
    std::set<int32_t> m_claimed;
    ParsedScript m_out;
};

void Parser::dvd_tables() {
    bool in_list = false;
    Look look;
    std::optional<FrameArea> area;
    for (const ScriptLine& line : m_lines) {
        const std::string_view t = line.text;
        if (!in_list) {
            in_list = starts_with(t, "SP_NUMBER");
            continue;
        }
        if (auto a = numbers_after(t, "Display_Area", 4)) {
            area = FrameArea{(*a)[0], (*a)[1], (*a)[2] + 1, (*a)[3] + 1};
            claim(line);
        } else if (auto c = numbers_after(t, "Color", 4)) {
            look.colour_line = line.text;
            look.colours = *c;
            if (m_type == ScriptType::SST) {
                for (int32_t& k : look.colours) {
                    --k;  // the table counts its palette from 1
                }
            }
            claim(line);
        } else if (auto k = numbers_after(t, "Contrast", 4)) {
            look.contrast_line = line.text;
            look.contrasts = *k;
            claim(line);
        } else if (!t.empty() && t[0] >= '0' && t[0] <= '9') {
            claim(line);
            const auto f = fields(t, "\t");
            if (f.size() != 4) {
                problem(line, "a subpicture line needs a number, a start, an end and a file");
                continue;
            }
            ScriptEntry e =
                entry_at(line.number, std::string(f[3]), std::string(f[1]), std::string(f[2]));
            e.area = area;
            look.put(e);
            add(std::move(e));
        }
    }
}

void Parser::iauthor() {
    std::optional<ScriptEntry> open;
    Look look;
    for (const ScriptLine& line : m_lines) {
        const std::string_view t = line.text;
        if (starts_with(t, "BMPFILE: ")) {
            if (open) {
                problem(line, "the subpicture above has no DISABLE_OGT");
            }
            open = entry_at(line.number, std::string(t.substr(9)));
            look = Look();
            claim(line);
            continue;
        }
        if (!open) {
            continue;
        }
        claim(line);
        if (starts_with(t, "STARTTIME: ")) {
            open->start = std::string(t.substr(11));
            continue;
        }
        const auto f = fields(t, " ,");
        if (f.size() < 3 || f[0] != "TIME:") {
            problem(line, "not a TIME command");
            continue;
        }
        if (f[2] == "REGION" && f.size() == 8 && f[5] == "to") {
            const auto l = to_int(f[3]), tp = to_int(f[4]), r = to_int(f[6]), b = to_int(f[7]);
            if (l && tp && r && b) {
                open->area = FrameArea{*l, *tp, *r + 1, *b + 1};
            } else {
                problem(line, "a REGION needs four numbers");
            }
        } else if (f[2] == "SETCOLOR" || f[2] == "SETBLEND") {
            look.colour_line += (look.colour_line.empty() ? "" : "\n") + line.text;
            if (f[2] == "SETBLEND") {
                for (size_t i = 4; i < f.size(); ++i) {
                    look.contrasts.push_back(to_int(f[i]).value_or(-1));
                }
            }
        } else if (f[2] == "DISABLE_OGT") {
            open->end = std::string(f[1]);
            look.put(*open);
            add(std::move(*open));
            open.reset();
        }
    }
    if (open) {
        problem(m_lines.back(), "the last subpicture has no DISABLE_OGT");
    }
}

bool Parser::picture_line(const ScriptLine& line, const Look& look) {
    const auto f = fields(line.text, "\t");
    if (f.size() != 7) {
        return false;
    }
    const auto w = to_int(f[3]), h = to_int(f[4]), x = to_int(f[5]), y = to_int(f[6]);
    if (!w || !h || !x || !y) {
        return false;
    }
    ScriptEntry e = entry_at(line.number, std::string(f[0]), std::string(f[1]), std::string(f[2]));
    e.area = FrameArea{*x, *y, *x + *w, *y + *h};
    look.put(e);
    add(std::move(e));
    return true;
}

void Parser::tab_lists() {
    const bool img = m_type == ScriptType::IMG;
    bool in_list = !img;
    Look look;
    for (const ScriptLine& line : m_lines) {
        const std::string_view t = line.text;
        if (!in_list) {
            in_list = t == "[LIST]";
            continue;
        }
        if (t.empty() || t[0] == '#') {
            continue;
        }
        claim(line);
        if (auto c = numbers_after(t, "& Color", 4)) {
            look.colour_line = line.text;
            look.colours = *c;
        } else if (auto k = numbers_after(t, "& Contrast", 4)) {
            look.contrast_line = line.text;
            look.contrasts = *k;
        } else if (!picture_line(line, look)) {
            problem(line, "a subpicture line needs a file, two times and four numbers");
        }
    }
}

void Parser::submux() {
    for (const ScriptLine& line : m_lines) {
        if (line.text.empty()) {
            continue;
        }
        claim(line);
        const auto f = fields(line.text, " ");
        std::vector<int32_t> n;
        for (size_t i = 3; i < f.size(); ++i) {
            n.push_back(to_int(f[i]).value_or(-1));
        }
        if (f.size() != 11 || std::find(n.begin(), n.end(), -1) != n.end()) {
            problem(line, "a subpicture line needs a file, two times and eight numbers");
            continue;
        }
        ScriptEntry e =
            entry_at(line.number, std::string(f[0]), std::string(f[1]), std::string(f[2]));
        e.area = FrameArea{n[2], n[3], n[2] + n[0], n[3] + n[1]};
        for (size_t i = 7; i < f.size(); ++i) {
            e.look += (i > 7 ? " " : "") + std::string(f[i]);
        }
        add(std::move(e));
    }
}

void Parser::usf() {
    for (const ScriptLine& line : m_lines) {
        const auto f = fields(line.text, " ");
        if (f.empty() || f[0] != "SUBTITLE") {
            continue;
        }
        claim(line);
        if (f.size() == 2 || f.size() == 5) {
            // A subpicture's line ends the one before it unless a line of its own did.
            if (!m_out.entries.empty() && m_out.entries.back().end.empty()) {
                m_out.entries.back().end = std::string(f[1]);
            }
        }
        if (f.size() == 5) {
            const auto x = to_int(f[3]), y = to_int(f[4]);
            if (!x || !y) {
                problem(line, "a subpicture needs its position");
                continue;
            }
            ScriptEntry e = entry_at(line.number, std::string(f[2]), std::string(f[1]));
            e.corner = std::make_pair(*x, *y);
            add(std::move(e));
        } else if (f.size() != 2) {
            problem(line, "a SUBTITLE line holds a time, or a time, a file and a position");
        }
    }
}

// The value of name="..." in an XML element, with the five entities decoded.
std::optional<std::string> attribute(std::string_view element, std::string_view name) {
    const std::string key = " " + std::string(name) + "=\"";
    const size_t start = element.find(key);
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    const size_t begin = start + key.size();
    const size_t end = element.find('"', begin);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    std::string value;
    const std::string_view raw = element.substr(begin, end - begin);
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    for (size_t i = 0; i < raw.size(); ++i) {
        bool decoded = false;
        for (const auto& [entity, c] : kEntities) {
            if (raw.substr(i, entity.size()) == entity) {
                value += c;
                i += entity.size() - 1;
                decoded = true;
                break;
            }
        }
        if (!decoded) {
            value += raw[i];
        }
    }
    return value;
}

void Parser::spumux() {
    for (const ScriptLine& line : m_lines) {
        const std::string_view t = line.text;
        if (t.find("<spu ") == std::string_view::npos) {
            continue;
        }
        claim(line);
        const auto start = attribute(t, "start"), end = attribute(t, "end");
        const auto image = attribute(t, "image");
        const auto x = attribute(t, "xoffset"), y = attribute(t, "yoffset");
        const auto xn = x ? to_int(*x) : std::nullopt, yn = y ? to_int(*y) : std::nullopt;
        if (!start || !end || !image || !xn || !yn) {
            problem(line, "an spu element needs start, end, image, xoffset and yoffset");
            continue;
        }
        ScriptEntry e = entry_at(line.number, *image, *start, *end);
        e.corner = std::make_pair(*xn, *yn);
        add(std::move(e));
    }
}

void Parser::vobsub_index() {
    for (const ScriptLine& line : m_lines) {
        const std::string_view t = line.text;
        if (!starts_with(t, "timestamp: ")) {
            continue;
        }
        claim(line);
        const auto f = fields(t.substr(11), " ,");
        if (f.size() != 3 || f[1] != "filepos:") {
            problem(line, "a timestamp line needs a time and a file position");
            continue;
        }
        add(entry_at(line.number, {}, std::string(f[0])));
    }
}

ParsedScript Parser::run() {
    switch (m_type) {
        case ScriptType::SON:
        case ScriptType::SST:
            dvd_tables();
            break;
        case ScriptType::IAU:
            iauthor();
            break;
        case ScriptType::IMG:
        case ScriptType::SCR:
            tab_lists();
            break;
        case ScriptType::SMX:
            submux();
            break;
        case ScriptType::USF:
            usf();
            break;
        case ScriptType::SPU:
            spumux();
            break;
        case ScriptType::VOBSUB:
            vobsub_index();
            break;
    }
    for (ScriptLine& line : m_lines) {
        if (m_claimed.count(line.number) == 0) {
            m_out.other_lines.push_back(std::move(line));
        }
    }
    return std::move(m_out);
}

}  // namespace

ParsedScript parse_authoring_script(script::ScriptType type, std::string_view text) {
    return Parser(type, text).run();
}

std::optional<int64_t> time_order_key(std::string_view time) {
    const auto groups = fields(time, ":;.");
    if (groups.empty() || groups.size() > 4 || time.empty() ||
        time.find_first_not_of("0123456789:;.") != std::string_view::npos) {
        return std::nullopt;
    }
    // The last group counts parts of a second (frames, hundredths, milliseconds or 1/10000 s),
    // always fewer than 10000; the ones before it count seconds, minutes and hours.
    int64_t seconds = 0;
    for (size_t i = 0; i + 1 < groups.size(); ++i) {
        const auto n = to_int(groups[i]);
        if (!n) {
            return std::nullopt;
        }
        seconds = seconds * 60 + *n;
    }
    const auto part = to_int(groups.back());
    if (!part || *part >= 10000) {
        return std::nullopt;
    }
    return groups.size() == 1 ? int64_t{*part} * 10000 : seconds * 10000 + *part;
}

bool is_dated_line(script::ScriptType type, std::string_view line) {
    return type == ScriptType::SCR && starts_with(line, "# Creation date:");
}

}  // namespace tessara::output
