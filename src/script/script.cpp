#include "script/script.h"

#include <algorithm>

#include "base/text.h"
#include "script/codepage.h"
#include "script/ssa_reader.h"

namespace tessara::script {

const std::array<std::u16string_view, StyleFormat::kFieldCount>& StyleFormat::field_names() {
    static const std::array<std::u16string_view, kFieldCount> names = {
        u"Name",           u"Fontname",   u"Fontsize",  u"PrimaryColour", u"SecondaryColour",
        u"TertiaryColour", u"BackColour", u"Bold",      u"Italic",        u"BorderStyle",
        u"Outline",        u"Shadow",     u"Alignment", u"MarginL",       u"MarginR",
        u"MarginV",        u"AlphaLevel", u"Encoding"};
    return names;
}

StyleFormat StyleFormat::identity() {
    StyleFormat f;
    for (int i = 0; i < kFieldCount; ++i) {
        f.column[i] = i;
    }
    return f;
}

std::vector<std::u16string_view> split_style_columns(std::u16string_view value) {
    std::vector<std::u16string_view> pieces;
    size_t pos = 0;
    while (pos < value.size()) {
        while (pos < value.size() && value[pos] == u',') {
            ++pos;
        }
        if (pos >= value.size()) {
            break;
        }
        size_t end = value.find(u',', pos);
        if (end == std::u16string_view::npos) {
            end = value.size();
        }
        pieces.push_back(base::trim_spaces(value.substr(pos, end - pos)));
        pos = end;
    }
    return pieces;
}

StyleFormat StyleFormat::from_format_line(std::u16string_view value) {
    StyleFormat f;
    f.column.fill(-1);
    const auto pieces = split_style_columns(value);
    for (size_t n = 0; n < pieces.size(); ++n) {
        for (int i = 0; i < kFieldCount; ++i) {
            if (pieces[n] == field_names()[i]) {
                f.column[i] = static_cast<int32_t>(n);
            }
        }
    }
    return f;
}

Script::Script() {
    m_styles.reserve(32);
    m_lines.reserve(256);
}

void Script::reset(bool reset_settings, bool treat_n_as_N) {
    m_style_format.reset();
    m_events.clear();
    m_styles.clear();
    m_lines.clear();
    m_default_style = Style();
    if (reset_settings) {
        settings.reset();
    }
    settings.playing_resolution = {0, 0, 0, 0};
    ssa_width = kDefaultSsaWidth;
    ssa_height = kDefaultSsaHeight;
    output_width = kDefaultOutputWidth;
    output_height = kDefaultOutputHeight;
    settings.treat_n_as_N = treat_n_as_N;
}

Style* Script::find_style(std::u16string_view name) {
    for (auto& s : m_styles) {
        if (s->name == name) {
            return s.get();
        }
    }
    return nullptr;
}

const Style* Script::find_style(std::u16string_view name) const {
    return const_cast<Script*>(this)->find_style(name);
}

ScriptLine& Script::append_line(LineKind kind, std::u16string text) {
    if (m_lines.size() == m_lines.capacity()) {
        m_lines.reserve(m_lines.size() + 256);
    }
    auto line = std::make_unique<ScriptLine>();
    line->kind = kind;
    line->text = std::move(text);
    m_lines.push_back(std::move(line));
    return *m_lines.back();
}

Style& Script::append_style(std::unique_ptr<Style> style) {
    if (m_styles.size() == m_styles.capacity()) {
        m_styles.reserve(m_styles.size() + 32);
    }
    m_styles.push_back(std::move(style));
    return *m_styles.back();
}

DialogueEvent& Script::append_event(std::unique_ptr<DialogueEvent> event) {
    m_events.push_back(std::move(event));
    return *m_events.back();
}

std::unique_ptr<DialogueEvent> Script::take_event(size_t index) {
    auto ev = std::move(m_events.at(index));
    m_events.erase(m_events.begin() + static_cast<std::ptrdiff_t>(index));
    return ev;
}

DialogueEvent& Script::insert_event(size_t index, std::unique_ptr<DialogueEvent> event) {
    index = std::min(index, m_events.size());
    auto it =
        m_events.insert(m_events.begin() + static_cast<std::ptrdiff_t>(index), std::move(event));
    return **it;
}

size_t Script::event_index(const DialogueEvent& event) const {
    for (size_t i = 0; i < m_events.size(); ++i) {
        if (m_events[i].get() == &event) {
            return i;
        }
    }
    return static_cast<size_t>(-1);
}

ScriptLine& Script::insert_line(size_t index, LineKind kind, std::u16string text) {
    index = std::min(index, m_lines.size());
    if (m_lines.size() == m_lines.capacity()) {
        m_lines.reserve(m_lines.size() + 256);
    }
    auto line = std::make_unique<ScriptLine>();
    line->kind = kind;
    line->text = std::move(text);
    auto it = m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(index), std::move(line));
    return **it;
}

const Style& Script::style_or_default(std::u16string_view name) const {
    const Style* style = find_style(name);
    return style != nullptr ? *style : m_default_style;
}

void Script::bind_event(DialogueEvent& ev) {
    ev.bound_style = &style_or_default(ev.style_name);
    ev.bound_style_id = ev.bound_style->id;
    const ScanOptions options = scan_options(*ev.bound_style);
    if (ev.scanned_with != options) {
        const DialogueEvent& head = ev.blink_head != nullptr ? *ev.blink_head : ev;
        if (&head != &ev && head.scanned_with == options) {
            // A blink copy of a head scanned again already: the copies repeat its runs.
            ev.runs = head.runs;
            ev.scanned_with = options;
        } else if (head.line != nullptr && head.line->kind == LineKind::Dialogue) {
            // The line was read before, so it parses again; only its runs can differ.
            if (auto parsed = parse_dialogue_value(line_value(head.line->text), options)) {
                ev.runs = std::move(parsed->text.runs);
                ev.scanned_with = options;
            }
        }
    }
    fill_run_colours(ev.runs, *ev.bound_style, settings.old_scale());
}

void Script::follow_output_size() {
    output_width = settings.res_x;
    output_height = settings.res_y - settings.minus2;
    settings.playing_resolution = {ssa_width, ssa_height, output_width, output_height};
}

void Script::bind_events() {
    for (auto& ev : m_events) {
        bind_event(*ev);
    }
}

std::vector<std::u16string> Script::completed_style_order(std::vector<std::u16string> order) const {
    order.erase(std::remove_if(order.begin(), order.end(),
                               [&](const std::u16string& name) { return !find_style(name); }),
                order.end());
    for (const auto& s : m_styles) {
        if (std::find(order.begin(), order.end(), s->name) == order.end()) {
            order.push_back(s->name);
        }
    }
    return order;
}

void Script::order_styles() {
    settings.style_order = completed_style_order(std::move(settings.style_order));
    const auto& order = settings.style_order;
    const auto n = static_cast<int32_t>(m_styles.size());
    for (int32_t i = 0; i < n; ++i) {
        m_styles[i]->priority = n - i;
    }
    for (size_t j = 0; j < order.size(); ++j) {
        if (Style* s = find_style(order[j])) {
            s->priority = 2 * n - static_cast<int32_t>(j);
        }
    }
}

ScanOptions Script::scan_options(const Style& style) const {
    ScanOptions o;
    o.treat_n_as_N = settings.treat_n_as_N;
    if (!settings.unicode) {
        o.encoding = TextEncoding::DecodeAnsi;
        o.system_code_page = system_code_page(settings.mb_code_page);
        o.style_charset = style.charset;
        o.forced_charset = settings.code_page;
    }
    return o;
}

ScanOptions Script::scan_options(std::u16string_view style_name) const {
    return scan_options(style_or_default(style_name));
}

}  // namespace tessara::script
