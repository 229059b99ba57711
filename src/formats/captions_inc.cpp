// The Captions Inc. caption list: every subpicture becomes a block of caption rows on a screen
// of twelve rows, each subtitle's lines on consecutive rows that stay the same for as long as
// it is shown.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/progress.h"
#include "formats/export_bytes.h"
#include "formats/export_internal.h"
#include "formats/script_text.h"
#include "render/font_cache.h"
#include "render/font_engine.h"
#include "script/compatible.h"
#include "script/script.h"
#include "timeline/placement.h"
#include "timeline/subpictures.h"
#include "timeline/timeline.h"

namespace tessara::formats {

namespace {

using internal::put_line;
using script::FrameTime;
using timeline::Subpicture;
using timeline::SubpictureMember;

constexpr int kRows = 12;
constexpr int kLastRow = kRows - 1;
constexpr int kDarkLimit = 160;

using RowMask = uint16_t;

RowMask rows_mask(int first, int count) {
    return static_cast<RowMask>(((1u << count) - 1u) << first);
}

int caption_colour_code(script::Colour colour, bool& invalid) {
    const bool r = formats::red_of(colour) >= kDarkLimit;
    const bool g = formats::green_of(colour) >= kDarkLimit;
    const int b = formats::blue_of(colour);
    if (!r && !g) {
        if (b > kDarkLimit) {
            return 8;
        }
        invalid = true;  // too dark to be shown: white instead
        return 1;
    }
    const bool blue = b >= kDarkLimit;
    if (!r) {
        return blue ? 4 : 6;
    }
    if (!g) {
        return blue ? 9 : 7;
    }
    return blue ? 1 : 5;
}

bool is_blank_char(char16_t c) {
    return c == u' ' || c == u'\u00A0';
}

// A caption line while it is assembled: text pieces, each in the code page of its run, and
// markers and blanks (run == nullptr) that are plain ASCII in every code page.
struct Piece {
    std::u16string text;
    const script::CSubSegment* run = nullptr;
};

// What one timeline subtitle contributes.
struct Caption {
    bool built = false;
    std::vector<std::string> lines;  // empty strings are empty lines
    std::vector<std::string> warnings;
    bool reported = false;
    bool bottom = false;
    bool manual = false;
    bool tried = false;
    int row = -1;                // first row once placed
    size_t first = 0, last = 0;  // subpictures holding it (indices, inclusive)
};

class CaptionsExport {
  public:
    CaptionsExport(const script::ConversionSettings& settings, timeline::Timeline& timeline)
        : m_settings(settings),
          m_bytes(settings),
          m_names((settings.compatible & script::compatible::kCaptionNames) != 0),
          m_sps(timeline.subpictures()),
          m_captions(timeline.size()),
          m_taken(m_sps.size(), 0) {}

    void build_lines();
    void place_all();
    bool write(TextExport& out, base::Progress* progress);

  private:
    void build(Caption& c, const script::DialogueEvent& ev);
    std::string finish_line(std::vector<Piece>& pieces, const script::DialogueEvent& ev,
                            const std::string& prefix, Caption& c, bool& replaced);
    void place(Caption& c, const SubpictureMember& m);
    std::optional<int> search(RowMask taken, int preferred, int k, bool up) const;
    int preferred_row(const Caption& c, const SubpictureMember& m, int k) const;

    const script::ConversionSettings& m_settings;
    const ExportBytes m_bytes;
    const bool m_names;
    std::vector<std::unique_ptr<Subpicture>>& m_sps;
    std::vector<Caption> m_captions;  // by timeline index
    std::vector<RowMask> m_taken;     // rows taken in each subpicture
    std::optional<int32_t> m_first_charset;
    bool m_mixed_reported = false;
};

std::string CaptionsExport::finish_line(std::vector<Piece>& pieces, const script::DialogueEvent& ev,
                                        const std::string& prefix, Caption& c, bool& replaced) {
    // Leading blanks go; the line is empty when nothing else is left.
    for (Piece& p : pieces) {
        size_t n = 0;
        while (n < p.text.size() && is_blank_char(p.text[n])) {
            ++n;
        }
        p.text.erase(0, n);
        if (!p.text.empty()) {
            break;
        }
    }
    const auto first_text =
        std::find_if(pieces.begin(), pieces.end(), [](const Piece& p) { return !p.text.empty(); });
    if (first_text == pieces.end()) {
        return {};
    }
    for (auto p = pieces.rbegin(); p != pieces.rend(); ++p) {
        while (!p->text.empty() && is_blank_char(p->text.back())) {
            p->text.pop_back();
        }
        if (!p->text.empty()) {
            break;
        }
    }

    std::string line = prefix;
    if (!m_names) {
        // The colour comes from the line's first run.
        const auto run = std::find_if(pieces.begin(), pieces.end(),
                                      [](const Piece& p) { return p.run != nullptr; });
        bool invalid = false;
        const int code = run != pieces.end() ? caption_colour_code(run->run->text_colour, invalid)
                                             : caption_colour_code(0xFFFFFF, invalid);
        if (invalid && std::find(c.warnings.begin(), c.warnings.end(), kInvalidColourText) ==
                           c.warnings.end()) {
            c.warnings.emplace_back(kInvalidColourText);
        }
        line = "[" + std::to_string(code) + " ";
    }
    for (const Piece& p : pieces) {
        if (p.run == nullptr) {
            for (char16_t ch : p.text) {
                line += static_cast<char>(ch);
            }
        } else {
            line += m_bytes.run_text(p.text, *p.run, ev, replaced);
        }
    }
    return line;
}

void CaptionsExport::build(Caption& c, const script::DialogueEvent& ev) {
    c.built = true;
    bool replaced = false;
    std::string prefix;
    if (m_names) {
        const std::string name = m_bytes.held(ev.actor, replaced);
        const size_t pad = name.size() < 10 ? 10 - name.size() : 1;
        prefix = "[" + name + "]" + std::string(pad, ' ');
    }
    const bool style_italic = ev.bound_style != nullptr && ev.bound_style->italic;

    std::vector<Piece> pieces;
    bool italics = false;
    bool pending_space = false;
    bool open_line = false;
    auto mark = [&](char16_t ch) { pieces.push_back({std::u16string(1, ch), nullptr}); };
    for (const script::CSubSegment& run : ev.runs) {
        const int32_t charset = m_bytes.run_charset(run, ev);
        if (!m_first_charset) {
            m_first_charset = charset;
        } else if (*m_first_charset != charset && !m_mixed_reported) {
            m_mixed_reported = true;
            c.warnings.emplace_back(kMixedCodePagesText);
        }
        const bool italic =
            run.override && run.override->italic ? *run.override->italic : style_italic;
        if (!italic && italics) {
            mark(u'>');
            italics = false;
        }
        if (run.space_before || pending_space) {
            mark(u' ');
        }
        if (italic && !italics) {
            mark(u'<');
            italics = true;
        }
        pieces.push_back({run.text, &run});
        open_line = true;
        pending_space = run.space_after;
        if (run.line_break_after) {
            c.lines.push_back(finish_line(pieces, ev, prefix, c, replaced));
            pieces.clear();
            pending_space = false;
            open_line = false;
        }
    }
    if (open_line) {
        c.lines.push_back(finish_line(pieces, ev, prefix, c, replaced));
    }
    if (replaced) {
        c.warnings.emplace_back(internal::kReplacedCharactersText);
    }
}

void CaptionsExport::build_lines() {
    // Lines are built in time order, so the code page warning lands on the first subtitle that
    // shows a second character set.
    for (size_t s = 0; s < m_sps.size(); ++s) {
        for (const SubpictureMember& m : m_sps[s]->members) {
            Caption& c = m_captions[static_cast<size_t>(m.index)];
            if (!c.built) {
                build(c, *m.event);
                c.first = s;
                c.manual = m.event->user_override &&
                           m.event->user_override->pos_x != script::UserOverride::kUnsetPosition;
                c.bottom = m.rendered == nullptr || m.rendered->valign == script::VAlign::Bottom;
            }
            c.last = s;
        }
    }
}

int CaptionsExport::preferred_row(const Caption& c, const SubpictureMember& m, int k) const {
    if (c.manual && m.rendered) {
        // The middle of the box on a 12-row grid over the screen less a 5% border above and
        // below.
        const int64_t res_y = m_settings.res_y;
        const int64_t border = res_y / 20;
        const int64_t y = timeline::drawn_origin(m).y;
        const int64_t h = m.rendered->box_height;
        const int64_t row = (y + h / 2 - border) * kRows / (res_y - 2 * border) - k / 2;
        return static_cast<int>(std::clamp<int64_t>(row, 0, kRows - k));
    }
    const script::VAlign v = m.rendered ? m.rendered->valign : script::VAlign::Bottom;
    switch (v) {
        case script::VAlign::Top:
            return 0;
        case script::VAlign::Middle:
            return 5;
        case script::VAlign::Bottom:
            break;
    }
    return kLastRow;
}

// The first start row from `preferred` on, moving one way, whose k rows are all free. Going up,
// start rows whose block would pass the last row are skipped; going down they end the search.
std::optional<int> CaptionsExport::search(RowMask taken, int preferred, int k, bool up) const {
    for (int r = preferred; r >= 0 && r <= kLastRow; r += up ? -1 : 1) {
        if (r + k - 1 > kLastRow) {
            if (up) {
                continue;
            }
            break;
        }
        if ((taken & rows_mask(r, k)) == 0) {
            return r;
        }
    }
    return std::nullopt;
}

void CaptionsExport::place(Caption& c, const SubpictureMember& m) {
    c.tried = true;
    const int k = static_cast<int>(c.lines.size());
    if (k == 0) {
        c.row = 0;  // nothing to show, nothing to take
        return;
    }
    if (k > kRows) {
        return;
    }
    // The subtitle keeps its rows for as long as it is shown, so they must be free in every
    // subpicture that holds it, not only in the one being laid out: otherwise two subtitles
    // could be given the same row where they meet later and one would overwrite the other.
    RowMask taken = 0;
    for (size_t s = c.first; s <= c.last; ++s) {
        taken |= m_taken[s];
    }
    const int preferred = preferred_row(c, m, k);
    std::optional<int> row = search(taken, preferred, k, c.bottom);
    if (!row) {
        row = search(taken, preferred, k, !c.bottom);
    }
    if (!row) {
        return;
    }
    c.row = *row;
    for (size_t s = c.first; s <= c.last; ++s) {
        m_taken[s] |= rows_mask(*row, k);
    }
}

void CaptionsExport::place_all() {
    const bool foresee = m_settings.coll_foresee;
    auto pass = [&](size_t s, auto wanted) {
        for (const SubpictureMember& m : m_sps[s]->members) {
            Caption& c = m_captions[static_cast<size_t>(m.index)];
            if (!c.tried && wanted(c)) {
                place(c, m);
            }
        }
    };
    const size_t n = m_sps.size();
    for (size_t s = 0; s < n; ++s) {
        pass(s, [](const Caption& c) { return c.manual; });
    }
    if (foresee) {
        // Backwards, so that a subtitle shown first leaves the bottom rows to one that joins it
        // and stays longer.
        for (size_t s = n; s-- > 0;) {
            pass(s, [](const Caption& c) { return c.bottom; });
        }
    }
    for (size_t s = 0; s < n; ++s) {
        pass(s, [&](const Caption& c) { return !(foresee && c.bottom); });
    }
}

bool CaptionsExport::write(TextExport& out, base::Progress* progress) {
    put_line(out.bytes, timecode_header(m_settings.timing));
    put_line(out.bytes, "");
    if (progress != nullptr) {
        progress->set_range(0, static_cast<int64_t>(m_sps.size()));
        progress->set_position(0);
    }
    for (size_t s = 0; s + 1 < m_sps.size(); ++s) {
        const Subpicture& sp = *m_sps[s];
        const FrameTime& end = m_sps[s + 1]->start;
        std::array<std::string, kRows> rows;
        std::vector<const std::string*> unplaced;
        for (const SubpictureMember& m : sp.members) {
            Caption& c = m_captions[static_cast<size_t>(m.index)];
            if (!c.reported) {
                c.reported = true;
                for (const std::string& w : c.warnings) {
                    out.notes.push_back(internal::note(sp.start, end, w));
                }
            }
            for (size_t j = 0; j < c.lines.size(); ++j) {
                const std::string& line = c.lines[j];
                if (line.empty()) {
                    continue;
                }
                if (c.row < 0) {
                    unplaced.push_back(&line);
                    continue;
                }
                const int row = c.row + static_cast<int>(j);
                if (m_names) {
                    rows[static_cast<size_t>(row)] = line;
                } else {
                    char head[8];
                    std::snprintf(head, sizeof head, "{%X ", static_cast<unsigned>(row));
                    rows[static_cast<size_t>(row)] = head + line;
                }
            }
        }
        const bool any =
            !unplaced.empty() ||
            std::any_of(rows.begin(), rows.end(), [](const std::string& r) { return !r.empty(); });
        if (any) {
            put_line(out.bytes, internal::smpte(sp.start) + " " + internal::smpte(end));
            for (const std::string& r : rows) {
                if (!r.empty()) {
                    put_line(out.bytes, r);
                }
            }
            for (const std::string* line : unplaced) {
                put_line(out.bytes, *line);
            }
            put_line(out.bytes, "");
            ++out.entries;
        }
        if (!unplaced.empty()) {
            out.notes.push_back(internal::note(sp.start, end, kUnplacedText));
        }
        if (progress != nullptr) {
            progress->step(1);
            if (!progress->keep_going()) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

namespace internal {

TextExport build_captions_inc(script::Script& script, const script::ConversionSettings& settings,
                              const TextExportOptions& options, base::Messages& messages) {
    TextExport result;
    const script::TimingSettings& timing = settings.timing;
    if (timing.rate_out == 29970 && !timing.drop_frame) {
        messages.error(kNtscNonDropRateText);
        return result;
    }
    if (timing.rate_out != 29970 && timing.rate_out != 25000 && timing.rate_out != 30000) {
        messages.error(kInvalidTimecodeTypeText);
        return result;
    }

    timeline::Timeline tl;
    tl.fill(script, settings, messages);
    std::unique_ptr<render::FontEngine> engine;
    std::unique_ptr<render::FontCache> fonts;
    if (timeline::build_subpictures(tl, false)) {
        // Rows follow the subtitles' alignments and manual positions, which the layout decides;
        // measuring is enough, nothing is drawn.
        engine = render::make_system_font_engine();
        fonts = std::make_unique<render::FontCache>(*engine);
        timeline::BuildContext context(script, *fonts, messages, nullptr);
        context.settings = settings;
        context.layout.generate_bitmaps = false;
        if (!timeline::BuildAll(tl, context)) {
            messages.error(timeline::kBuildAllErrorText);
            return result;
        }
    }

    CaptionsExport exporter(settings, tl);
    exporter.build_lines();
    exporter.place_all();
    result.status =
        exporter.write(result, options.progress) ? ExportStatus::Done : ExportStatus::Cancelled;
    return result;
}

}  // namespace internal

}  // namespace tessara::formats
