#include "document/preview.h"

#include <algorithm>

#include "base/int_math.h"
#include "base/messages.h"
#include "base/text.h"
#include "document/dialog_support.h"
#include "document/document.h"
#include "render/subpicture_canvas.h"
#include "script/script.h"
#include "script/script_edit.h"
#include "timeline/colour_slots.h"
#include "timeline/placement.h"
#include "timeline/subpictures.h"

namespace tessara::document {

const char* const kPreviewTooLargeText = "This function works only for bitmaps up to 720x576";
const char* const kNoSubtitlesText = "No subtitles in the file";
const char* const kNoSubtitlesInTimelineText = "No subtitles in the timeline";
const char* const kDeleteSubtitleText = "Are you sure you want to delete this subtitle?";

namespace {

// The settings a build depends on, as text: the window's own display settings (guides,
// background, display options) are left out, so changing them does not force a new build.
std::vector<std::u16string> build_relevant_entries(const script::ConversionSettings& settings) {
    script::ConversionSettings s;
    s.assign_values(settings.values());
    const script::SettingsValues defaults;
    s.back_picture = defaults.back_picture;
    s.back_movie = defaults.back_movie;
    s.back_offset = defaults.back_offset;
    s.crop_above = defaults.crop_above;
    s.crop_below = defaults.crop_below;
    s.do_levels = defaults.do_levels;
    s.no_sound = defaults.no_sound;
    s.show_safe = defaults.show_safe;
    s.show_guides = defaults.show_guides;
    s.show_snaps = defaults.show_snaps;
    s.stop_is_next = defaults.stop_is_next;
    s.guides = defaults.guides;
    s.vdub_offset = defaults.vdub_offset;
    s.output_file = defaults.output_file;
    s.honor_file = defaults.honor_file;
    return script::settings_entries(s);
}

// The offset of an anchor from a box's low edge, as placement applies it.
int32_t anchor_offset(int32_t snap, int32_t size) {
    return snap == 1 ? size >> 1 : snap == 2 ? size : 0;
}

}  // namespace

PreviewOpening preview_opening(const Document& document, bool shift_held,
                               base::Messages& messages) {
    const script::Script& script = document.script();
    if (script.settings.res_x > kMaxPreviewWidth || script.settings.res_y > kMaxPreviewHeight) {
        messages.error(kPreviewTooLargeText);
        return PreviewOpening::Refused;
    }
    if (script.events().empty()) {
        messages.error(kNoSubtitlesText);
        return PreviewOpening::Refused;
    }
    const PreviewBuild* build = document.last_build();
    if (shift_held || build == nullptr || build->context == nullptr ||
        script.settings.rebuild_needed ||
        build_relevant_entries(build->context->settings) !=
            build_relevant_entries(script.settings)) {
        return PreviewOpening::Rebuild;
    }
    return PreviewOpening::Reuse;
}

bool build_for_preview(Document& document, base::Progress* progress, base::Messages& messages) {
    const PreviewBuild* build = document.build_preview(progress, messages);
    if (build == nullptr) {
        return false;
    }
    document.script().settings.rebuild_needed = false;
    if (build->context == nullptr || build->timeline.subpictures().size() < 2) {
        messages.error(kNoSubtitlesInTimelineText);
        return false;
    }
    return true;
}

Guides Guides::from_settings(const std::vector<int32_t>& stored) {
    Guides g;
    for (int32_t v : stored) {
        const auto bits = static_cast<uint32_t>(v);
        if ((bits & kVerticalGuideBit) != 0) {
            g.vertical.push_back(static_cast<int32_t>(bits & ~kVerticalGuideBit));
        } else {
            g.horizontal.push_back(v);
        }
    }
    return g;
}

std::vector<int32_t> Guides::to_settings() const {
    std::vector<int32_t> out;
    for (int32_t x : vertical) {
        out.push_back(static_cast<int32_t>(static_cast<uint32_t>(x) | kVerticalGuideBit));
    }
    out.insert(out.end(), horizontal.begin(), horizontal.end());
    return out;
}

void toggle_guide(std::vector<int32_t>& guides, int32_t value) {
    auto it = std::find(guides.begin(), guides.end(), value);
    if (it != guides.end()) {
        guides.erase(it);
    } else {
        guides.push_back(value);
    }
}

int32_t snap_reference(int32_t low, int32_t size, SnapEdge edge) {
    switch (edge) {
        case SnapEdge::Middle:
            return low + size / 2;
        case SnapEdge::High:
            return low + size - 1;
        default:
            return low;
    }
}

std::optional<int32_t> closest_guide(int32_t reference, const std::vector<int32_t>& guides) {
    std::optional<int32_t> best;
    int64_t best_distance = kSnapDistance;
    for (int32_t g : guides) {
        const int64_t distance = std::abs(int64_t{g} - reference);
        if (distance < best_distance) {
            best = g;
            best_distance = distance;
        }
    }
    return best;
}

Box snap_box(Box box, const Guides& guides, SnapEdge horizontal, SnapEdge vertical) {
    if (horizontal != SnapEdge::None) {
        const int32_t ref = snap_reference(box.x, box.width, horizontal);
        if (auto g = closest_guide(ref, guides.vertical)) {
            box.x += *g - ref;
        }
    }
    if (vertical != SnapEdge::None) {
        const int32_t ref = snap_reference(box.y, box.height, vertical);
        if (auto g = closest_guide(ref, guides.horizontal)) {
            box.y += *g - ref;
        }
    }
    return box;
}

Box dragged_box(const Box& start, int32_t start_px, int32_t start_py, int32_t px, int32_t py,
                bool ctrl) {
    int64_t dx = int64_t{px} - start_px;
    int64_t dy = int64_t{py} - start_py;
    if (ctrl) {
        (std::abs(dx) >= std::abs(dy) ? dy : dx) = 0;
    }
    Box out = start;
    out.x = static_cast<int32_t>(std::clamp<int64_t>(start.x + dx, INT32_MIN / 2, INT32_MAX / 2));
    out.y = static_cast<int32_t>(std::clamp<int64_t>(start.y + dy, INT32_MIN / 2, INT32_MAX / 2));
    return out;
}

bool drop_accepted(const Box& box, int32_t frame_width, int32_t frame_height) {
    return box.x < frame_width && box.y < frame_height && int64_t{box.x} + box.width > 0 &&
           int64_t{box.y} + box.height > 0;
}

int32_t anchor_third(int32_t offset, int32_t size) {
    const int32_t third = size / 3;
    if (offset < third) {
        return 0;
    }
    return offset < 2 * third ? 1 : 2;
}

int64_t jog_frame(int64_t drag_start, int32_t position, int64_t first, int64_t last) {
    return std::clamp<int64_t>(drag_start + position - kJogRest, first, std::max(first, last));
}

int64_t slider_page_step(int64_t first, int64_t last) {
    return std::max<int64_t>(1, (last - first) / 20);
}

PreviewDisplay PreviewDisplay::from(const script::SettingsValues& s) {
    PreviewDisplay d;
    d.guides = Guides::from_settings(s.guides);
    d.show_guides = s.show_guides;
    d.show_safe = s.show_safe;
    d.show_snaps = s.show_snaps;
    d.stop_is_next = s.stop_is_next;
    d.no_sound = s.no_sound;
    d.do_levels = s.do_levels;
    d.background = !s.back_movie.empty()     ? BackgroundKind::Movie
                   : !s.back_picture.empty() ? BackgroundKind::Picture
                                             : BackgroundKind::Colour;
    d.back_color = s.back_color;
    d.back_picture = s.back_picture;
    d.back_movie = s.back_movie;
    d.back_offset = s.back_offset;
    d.crop_above = s.crop_above;
    d.crop_below = s.crop_below;
    return d;
}

void PreviewDisplay::write_back(Document& document) const {
    script::ConversionSettings& settings = document.script().settings;
    script::SettingsValues values = settings.values();
    values.guides = guides.to_settings();
    values.show_guides = show_guides;
    values.show_safe = show_safe;
    values.show_snaps = show_snaps;
    values.stop_is_next = stop_is_next;
    values.no_sound = no_sound;
    values.do_levels = do_levels;
    values.back_color = back_color;
    values.back_picture = background == BackgroundKind::Picture ? back_picture : u"";
    values.back_movie = background == BackgroundKind::Movie ? back_movie : u"";
    values.back_offset = back_offset;
    values.crop_above = crop_above;
    values.crop_below = crop_below;
    if (detail::saved_differently(settings, values)) {
        settings.assign_values(values);
        detail::mark_changed(settings, false);
    }
}

Box safe_area(int32_t frame_width, int32_t frame_height, int32_t safe_frm) {
    const int32_t percent = std::clamp(safe_frm, 0, 50);
    const auto dx = static_cast<int32_t>(base::muldiv(frame_width, percent, 100));
    const auto dy = static_cast<int32_t>(base::muldiv(frame_height, percent, 100));
    return {dx, dy, std::max(0, frame_width - 2 * dx), std::max(0, frame_height - 2 * dy)};
}

// --- the session -----------------------------------------------------------------------------

PreviewSession::PreviewSession(Document& document) : m_document(document) {
    const auto& sps = build().timeline.subpictures();
    for (size_t i = 0; i < sps.size(); ++i) {
        if (!sps[i]->members.empty()) {
            m_shown = static_cast<int32_t>(i);
            break;
        }
    }
    m_frame = sps.empty() ? 0 : sps[static_cast<size_t>(m_shown)]->start.frame;
    remember_presented();
}

const PreviewBuild& PreviewSession::build() const {
    return *m_document.last_build();
}

int32_t PreviewSession::frame_width() const {
    return m_document.script().settings.res_x;
}

int32_t PreviewSession::frame_height() const {
    const auto& s = m_document.script().settings;
    return s.res_y - s.minus2;
}

const timeline::Subpicture& PreviewSession::subpicture() const {
    return *build().timeline.subpictures()[static_cast<size_t>(m_shown)];
}

timeline::Subpicture& PreviewSession::shown_subpicture() {
    return *m_document.last_build_for_update().timeline.subpictures()[static_cast<size_t>(m_shown)];
}

script::FrameTime PreviewSession::start() const {
    return subpicture().start;
}

script::FrameTime PreviewSession::stop() const {
    const auto& sps = build().timeline.subpictures();
    const auto next = static_cast<size_t>(m_shown) + 1;
    return next < sps.size() ? sps[next]->start : subpicture().start;
}

int64_t PreviewSession::first_frame() const {
    return build().timeline.subpictures().front()->start.frame;
}

int64_t PreviewSession::last_frame() const {
    return std::max(first_frame(), int64_t{build().timeline.subpictures().back()->start.frame} - 1);
}

bool PreviewSession::previous() {
    const auto& sps = build().timeline.subpictures();
    for (int32_t i = m_shown - 1; i >= 0; --i) {
        if (!sps[static_cast<size_t>(i)]->members.empty()) {
            show_frame(sps[static_cast<size_t>(i)]->start.frame);
            return true;
        }
    }
    return false;
}

bool PreviewSession::next() {
    const auto& sps = build().timeline.subpictures();
    for (size_t i = static_cast<size_t>(m_shown) + 1; i < sps.size(); ++i) {
        if (!sps[i]->members.empty()) {
            show_frame(sps[i]->start.frame);
            return true;
        }
    }
    return false;
}

void PreviewSession::show_frame(int64_t frame) {
    m_frame = std::clamp(frame, first_frame(), last_frame());
    const auto& sps = build().timeline.subpictures();
    int32_t shown = 0;
    for (size_t i = 0; i < sps.size() && sps[i]->start.frame <= m_frame; ++i) {
        shown = static_cast<int32_t>(i);
    }
    if (shown != m_shown) {
        m_shown = shown;
        m_selected = -1;
        remember_presented();
    }
}

std::optional<int64_t> PreviewSession::frame_of_timecode(std::u16string_view text) const {
    auto parsed = script::parse_script_time(base::trim_spaces(text), true, true);
    if (!parsed || !parsed->time.smpte) {
        return std::nullopt;
    }
    const script::FrameTime t =
        script::frame_time_from_script_time(parsed->time, m_document.script().settings.timing);
    if (!t.is_set()) {
        return std::nullopt;
    }
    return t.frame;
}

std::u16string PreviewSession::timecode(int64_t frame) const {
    script::FrameTime t = subpicture().start;
    t.frame = static_cast<int32_t>(frame);
    return script::format_smpte(t, t.drop ? u';' : u':');
}

std::u16string PreviewSession::stop_text(bool stop_is_next) const {
    return timecode(int64_t{stop().frame} - (stop_is_next ? 0 : 1));
}

std::pair<std::u16string, std::u16string> PreviewSession::selected_times(bool stop_is_next) const {
    const auto* m = selected_member();
    if (m == nullptr) {
        return {};
    }
    const timeline::TimedSubtitle& t = build().timeline.subtitles()[static_cast<size_t>(m->index)];
    return {timecode(t.start.frame), timecode(int64_t{t.stop.frame} - (stop_is_next ? 0 : 1))};
}

std::vector<Box> PreviewSession::boxes() const {
    std::vector<Box> out;
    for (const auto& m : subpicture().members) {
        const timeline::Point origin = timeline::drawn_origin(m);
        out.push_back({origin.x, origin.y, m.rendered ? m.rendered->box_width : 0,
                       m.rendered ? m.rendered->box_height : 0});
    }
    return out;
}

std::vector<PreviewSession::OutsideSafe> PreviewSession::outside_safe_area(const Box& area) const {
    std::vector<OutsideSafe> out;
    std::vector<const script::DialogueEvent*> listed;
    for (const auto& sp : build().timeline.subpictures()) {
        for (const auto& m : sp->members) {
            if (!m.rendered || std::find(listed.begin(), listed.end(), m.event) != listed.end()) {
                continue;
            }
            const timeline::Point o = timeline::drawn_origin(m);
            const bool inside =
                o.x >= area.x && o.y >= area.y &&
                int64_t{o.x} + m.rendered->box_width <= int64_t{area.x} + area.width &&
                int64_t{o.y} + m.rendered->box_height <= int64_t{area.y} + area.height;
            if (!inside) {
                listed.push_back(m.event);
                out.push_back({sp->start.frame, event_index(m_document.script(), m.event),
                               m.event->plain_text});
            }
        }
    }
    return out;
}

void PreviewSession::select(int32_t member) {
    const auto count = static_cast<int32_t>(subpicture().members.size());
    m_selected = member >= 0 && member < count ? member : -1;
}

int32_t PreviewSession::member_at(int32_t px, int32_t py) const {
    const std::vector<Box> all = boxes();
    for (auto i = static_cast<int32_t>(all.size()) - 1; i >= 0; --i) {
        if (all[static_cast<size_t>(i)].contains(px, py)) {
            return i;
        }
    }
    return -1;
}

void PreviewSession::select_next() {
    const auto count = static_cast<int32_t>(subpicture().members.size());
    m_selected = count == 0 ? -1 : (m_selected + 1) % count;
}

int32_t PreviewSession::selected_subtitle() const {
    const auto* m = selected_member();
    return m != nullptr ? m->index : -1;
}

std::optional<int64_t> PreviewSession::movie_frame(int64_t frame, int64_t offset_frame,
                                                   int64_t movie_frames) {
    const int64_t n = frame - offset_frame;
    return n >= 0 && n < movie_frames ? std::optional<int64_t>(n) : std::nullopt;
}

const timeline::SubpictureMember* PreviewSession::selected_member() const {
    if (m_selected < 0 || static_cast<size_t>(m_selected) >= subpicture().members.size()) {
        return nullptr;
    }
    return &subpicture().members[static_cast<size_t>(m_selected)];
}

bool PreviewSession::selected_is_manual() const {
    const auto* m = selected_member();
    return m != nullptr && m->event->user_override && m->event->user_override->has_position();
}

bool PreviewSession::selected_has_moved() const {
    const auto* m = selected_member();
    if (m == nullptr) {
        return false;
    }
    for (const auto& p : m_presented_positions) {
        if (p.event == m->event) {
            return p.override_at_presentation != m->event->user_override;
        }
    }
    return false;
}

void PreviewSession::remember_presented() {
    m_presented_positions.clear();
    for (const auto& m : subpicture().members) {
        m_presented_positions.push_back({m.event, m.event->user_override});
    }
}

bool PreviewSession::set_override(script::DialogueEvent& event,
                                  const std::optional<script::UserOverride>& value,
                                  base::Messages& messages, bool record) {
    if (event.user_override == value) {
        return true;
    }
    if (record) {
        m_undo.push_back({event_index(m_document.script(), &event), event.user_override, value,
                          std::nullopt, m_frame});
        m_redo.clear();
    }
    event.user_override = value;
    m_document.script().settings.modified = true;
    int32_t subtitle = -1;
    for (const auto& m : subpicture().members) {
        if (m.event == &event) {
            subtitle = m.index;
        }
    }
    return rebuild(subtitle, messages);
}

bool PreviewSession::rebuild(int32_t subtitle, base::Messages& messages) {
    PreviewBuild& b = m_document.last_build_for_update();
    const script::DialogueEvent* selected =
        selected_member() != nullptr ? selected_member()->event : nullptr;
    const bool ok = timeline::Rebuild(b.timeline, *b.context, subtitle, m_shown);
    // A subtitle that draws nothing leaves `shown` where it was, which may be past the end now.
    m_shown =
        std::clamp<int32_t>(m_shown, 0, static_cast<int32_t>(b.timeline.subpictures().size()) - 1);
    if (!ok) {
        messages.error(timeline::kBuildAllErrorText);
    }
    const auto& members = subpicture().members;
    m_selected = -1;
    for (size_t i = 0; i < members.size(); ++i) {
        if (members[i].event == selected) {
            m_selected = static_cast<int32_t>(i);
        }
    }
    if (m_frame < start().frame || m_frame >= std::max(stop().frame, start().frame + 1)) {
        m_frame = start().frame;
    }
    return ok;
}

bool PreviewSession::move_selected(const Box& box, base::Messages& messages) {
    const auto* m = selected_member();
    if (m == nullptr || !m->rendered || !drop_accepted(box, frame_width(), frame_height())) {
        return false;
    }
    return set_override(*m->event, override_for(*m, box), messages, true);
}

std::optional<script::UserOverride> PreviewSession::override_for(
    const timeline::SubpictureMember& m, const Box& box) const {
    script::UserOverride value = m.event->user_override.value_or(script::UserOverride{});
    const int32_t width = m.rendered ? m.rendered->box_width : 0;
    const int32_t height = m.rendered ? m.rendered->box_height : 0;
    const int32_t top = m.rendered ? m.rendered->collision_top : 0;
    value.pos_x = box.x + anchor_offset(value.snap_x, width);
    value.pos_y = box.y + top + anchor_offset(value.snap_y, height);
    return value;
}

bool PreviewSession::set_selected_anchors(int32_t snap_x, int32_t snap_y,
                                          base::Messages& messages) {
    const auto* m = selected_member();
    if (m == nullptr || !selected_is_manual()) {
        return false;
    }
    const Box box = boxes()[static_cast<size_t>(m_selected)];
    script::UserOverride value = *m->event->user_override;
    value.snap_x = std::clamp(snap_x, 0, 2);
    value.snap_y = std::clamp(snap_y, 0, 2);
    value.pos_x = box.x + anchor_offset(value.snap_x, box.width);
    value.pos_y = box.y + m->rendered->collision_top + anchor_offset(value.snap_y, box.height);
    return set_override(*m->event, value, messages, true);
}

bool PreviewSession::restore_selected(base::Messages& messages) {
    const auto* m = selected_member();
    if (m == nullptr) {
        return false;
    }
    for (const auto& p : m_presented_positions) {
        if (p.event == m->event) {
            return set_override(*m->event, p.override_at_presentation, messages, true);
        }
    }
    return false;
}

bool PreviewSession::clear_selected_position(base::Messages& messages) {
    const auto* m = selected_member();
    if (m == nullptr || !selected_is_manual()) {
        return false;
    }
    std::optional<script::UserOverride> value = *m->event->user_override;
    value->pos_x = script::UserOverride::kUnsetPosition;
    value->pos_y = script::UserOverride::kUnsetPosition;
    value->snap_x = 0;
    value->snap_y = 0;
    if (!value->has_absolute()) {
        value.reset();
    }
    return set_override(*m->event, value, messages, true);
}

bool PreviewSession::delete_selected(base::Messages& messages) {
    const auto* m = selected_member();
    if (m == nullptr ||
        messages.ask(kDeleteSubtitleText, base::AskKind::YesNo) != base::Answer::Yes) {
        return false;
    }
    const int64_t index = event_index(m_document.script(), m->event);
    if (index < 0) {
        return false;
    }
    std::optional<std::string> before = m_document.snapshot();
    // The build points at the event: it goes before the event does.
    m_presented_positions.clear();
    m_selected = -1;
    script::delete_event(m_document.script(), static_cast<size_t>(index));
    m_document.script().settings.modified = true;
    m_redo.clear();
    if (before) {
        m_undo.push_back({-1, std::nullopt, std::nullopt, std::move(before), m_frame});
    } else {
        m_undo.clear();  // a script that cannot be written as it stands cannot be gone back to
    }
    return rebuild_all(m_frame, messages);
}

bool PreviewSession::rebuild_all(int64_t frame, base::Messages& messages) {
    m_presented_positions.clear();
    m_selected = -1;
    if (!build_for_preview(m_document, nullptr, messages)) {
        return false;
    }
    m_shown = 0;
    show_frame(frame);
    remember_presented();
    return true;
}

bool PreviewSession::apply_change(Change& change, bool undoing, base::Messages& messages) {
    if (change.script) {
        std::optional<std::string> other = m_document.snapshot();
        if (!other || !m_document.restore(*change.script, messages)) {
            return false;
        }
        change.script = std::move(other);
        return rebuild_all(change.frame, messages);
    }
    const auto& events = m_document.script().events();
    if (change.event < 0 || static_cast<size_t>(change.event) >= events.size()) {
        return false;
    }
    show_frame(change.frame);
    return set_override(*events[static_cast<size_t>(change.event)],
                        undoing ? change.before : change.after, messages, false);
}

bool PreviewSession::undo(base::Messages& messages) {
    if (m_undo.empty()) {
        return false;
    }
    Change change = std::move(m_undo.back());
    m_undo.pop_back();
    const bool ok = apply_change(change, true, messages);
    m_redo.push_back(std::move(change));
    return ok;
}

bool PreviewSession::redo(base::Messages& messages) {
    if (m_redo.empty()) {
        return false;
    }
    Change change = std::move(m_redo.back());
    m_redo.pop_back();
    const bool ok = apply_change(change, false, messages);
    m_undo.push_back(std::move(change));
    return ok;
}

void PreviewSession::begin_edit() {
    m_before_edit = m_document.snapshot();
}

void PreviewSession::end_edit(bool changed, int32_t shown) {
    std::optional<std::string> before = std::move(m_before_edit);
    m_before_edit.reset();
    if (!changed) {
        return;
    }
    m_redo.clear();
    if (before) {
        m_undo.push_back({-1, std::nullopt, std::nullopt, std::move(before), m_frame});
    } else {
        m_undo.clear();
    }
    m_shown = std::clamp<int32_t>(shown, 0,
                                  static_cast<int32_t>(build().timeline.subpictures().size()) - 1);
    m_frame = start().frame;
    m_selected = -1;
    remember_presented();
}

render::Bitmap<uint32_t> PreviewSession::paint(const render::Bitmap<uint32_t>* background,
                                               script::Colour back_color,
                                               const DraggedMember* dragged) {
    render::SubpictureCanvas canvas(frame_width(), frame_height());
    const auto& members = subpicture().members;
    if (dragged != nullptr && dragged->member >= 0 &&
        static_cast<size_t>(dragged->member) < members.size()) {
        // Drawing takes a member's place from its event's manual position: the dragged one is
        // given its box for the moment.
        const timeline::SubpictureMember& m = members[static_cast<size_t>(dragged->member)];
        std::optional<script::UserOverride> own = m.event->user_override;
        m.event->user_override = override_for(m, dragged->box);
        timeline::compose(subpicture(), canvas, true);
        m.event->user_override = std::move(own);
    } else {
        timeline::compose(subpicture(), canvas, true);
    }
    const bool over = background != nullptr && background->width() == canvas.width() &&
                      background->height() == canvas.height();
    render::Bitmap<uint32_t> image(canvas.width(), canvas.height(), back_color & 0xFFFFFF);
    for (int32_t y = 0; y < canvas.height(); ++y) {
        for (int32_t x = 0; x < canvas.width(); ++x) {
            const uint8_t k = canvas.classes().at(x, y);
            if (timeline::slot_of_class(k) > 2) {
                if (over) {
                    image.at(x, y) = background->at(x, y);
                }
                continue;
            }
            image.at(x, y) =
                timeline::colour_of_class(subpicture().colors, k, back_color) & 0xFFFFFF;
        }
    }
    return image;
}

}  // namespace tessara::document
