#include "render/right_to_left.h"

#include <unicode/uchar.h>

#include <string>
#include <string_view>

namespace tessara::render {

using script::CSubSegment;

CharClass char_class(char32_t c) {
    if (c == 0x20 || c == 0xA0) {
        return CharClass::Space;
    }
    switch (u_charDirection(static_cast<UChar32>(c))) {
        case U_LEFT_TO_RIGHT:
        case U_LEFT_TO_RIGHT_EMBEDDING:
        case U_LEFT_TO_RIGHT_OVERRIDE:
        case U_LEFT_TO_RIGHT_ISOLATE:
            return CharClass::LeftToRight;
        case U_RIGHT_TO_LEFT:
        case U_RIGHT_TO_LEFT_ARABIC:
        case U_RIGHT_TO_LEFT_EMBEDDING:
        case U_RIGHT_TO_LEFT_OVERRIDE:
        case U_RIGHT_TO_LEFT_ISOLATE:
            return CharClass::RightToLeft;
        case U_WHITE_SPACE_NEUTRAL:
            return CharClass::Space;
        default:
            return CharClass::Neutral;
    }
}

namespace {

constexpr std::u16string_view kMirrorFrom = u"[](){}<>\u2039\u203A\u2018\u201C\u00AB";
constexpr std::u16string_view kMirrorTo = u"][)(}{><\u203A\u2039\u2019\u201D\u00BB";

// One entry of a group's character array.
struct Cell {
    char32_t c = 0;
    size_t source = 0;       // index of the source run
    bool separator = false;  // a space between runs (or a space-class character)
    bool rtl = false;
};

int32_t effective_charset(const CSubSegment& run, const script::Style& style, int32_t forced) {
    return script::effective_charset(run.override, style.charset, forced);
}

void append_utf16(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}

// Resolves the direction of every real character of a group.
void resolve_directions(std::vector<Cell>& cells) {
    std::vector<CharClass> classes(cells.size(), CharClass::Space);
    for (size_t i = 0; i < cells.size(); ++i) {
        if (!cells[i].separator) {
            classes[i] = char_class(cells[i].c);
            if (classes[i] == CharClass::Space) {
                cells[i].separator = true;
            }
        }
    }
    // A neutral takes the right-to-left direction at the start of the group or after a
    // right-to-left character; otherwise it follows the next strong character, and a neutral
    // run that reaches the end of the group is right-to-left.
    bool seen_strong = false;
    bool last_strong_rtl = false;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (cells[i].separator) {
            continue;
        }
        switch (classes[i]) {
            case CharClass::LeftToRight:
                cells[i].rtl = false;
                seen_strong = true;
                last_strong_rtl = false;
                break;
            case CharClass::RightToLeft:
                cells[i].rtl = true;
                seen_strong = true;
                last_strong_rtl = true;
                break;
            default: {
                if (!seen_strong || last_strong_rtl) {
                    cells[i].rtl = true;
                    break;
                }
                bool next_rtl = true;
                for (size_t j = i + 1; j < cells.size(); ++j) {
                    if (cells[j].separator)
                        continue;
                    if (classes[j] == CharClass::LeftToRight) {
                        next_rtl = false;
                        break;
                    }
                    if (classes[j] == CharClass::RightToLeft) {
                        break;
                    }
                }
                cells[i].rtl = next_rtl;
                break;
            }
        }
    }
}

std::u16string reversed_mirrored(const std::u32string& text) {
    std::u16string out;
    for (auto it = text.rbegin(); it != text.rend(); ++it) {
        char32_t c = *it;
        if (c < 0x10000) {
            size_t k = kMirrorFrom.find(static_cast<char16_t>(c));
            if (k != std::u16string_view::npos) {
                c = kMirrorTo[k];
            }
        }
        append_utf16(out, c);
    }
    return out;
}

}  // namespace

std::vector<CSubSegment> right_to_left_runs(const std::vector<CSubSegment>& runs,
                                            const script::Style& style, int32_t forced_charset) {
    std::vector<CSubSegment> out;
    bool pending_space = false;
    size_t g = 0;
    while (g < runs.size()) {
        // The group: same effective character set, ending after a line break.
        const int32_t charset = effective_charset(runs[g], style, forced_charset);
        size_t end = g;
        while (end < runs.size() &&
               effective_charset(runs[end], style, forced_charset) == charset) {
            ++end;
            if (runs[end - 1].line_break_after)
                break;
        }

        std::vector<Cell> cells;
        for (size_t r = g; r < end; ++r) {
            const CSubSegment& run = runs[r];
            if (run.space_before)
                cells.push_back({u' ', r, true, false});
            const std::u16string& t = run.text;
            for (size_t i = 0; i < t.size(); ++i) {
                char32_t c = t[i];
                if (c >= 0xD800 && c <= 0xDBFF && i + 1 < t.size() && t[i + 1] >= 0xDC00 &&
                    t[i + 1] <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (t[i + 1] - 0xDC00);
                    ++i;
                }
                cells.push_back({c, r, false, false});
            }
            if (run.space_after)
                cells.push_back({u' ', r, true, false});
        }
        resolve_directions(cells);

        // Cut into new runs at source or direction changes and at separators.
        std::u32string text;
        size_t source = 0;
        bool rtl = false;
        auto flush = [&] {
            if (text.empty())
                return;
            CSubSegment seg = runs[source];
            seg.space_before = pending_space;
            seg.space_after = false;
            seg.line_break_after = false;
            seg.right_to_left = rtl;
            if (rtl) {
                seg.text = reversed_mirrored(text);
            } else {
                seg.text.clear();
                for (char32_t c : text)
                    append_utf16(seg.text, c);
            }
            out.push_back(std::move(seg));
            text.clear();
            pending_space = false;
        };
        for (const Cell& cell : cells) {
            if (cell.separator) {
                flush();
                pending_space = true;
                continue;
            }
            if (!text.empty() && (cell.source != source || cell.rtl != rtl)) {
                flush();
            }
            source = cell.source;
            rtl = cell.rtl;
            text += cell.c;
        }
        flush();
        if (runs[end - 1].line_break_after) {
            if (!out.empty()) {
                out.back().line_break_after = true;
            }
            pending_space = false;
        }
        g = end;
    }
    return out;
}

}  // namespace tessara::render
