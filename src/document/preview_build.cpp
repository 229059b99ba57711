#include "document/preview_build.h"

#include "render/subpicture_canvas.h"
#include "script/script.h"
#include "timeline/placement.h"

namespace tessara::document {

const timeline::Subpicture* PreviewBuild::find(std::optional<int64_t> number,
                                               std::optional<script::FrameTime> frame) const {
    const auto& subs = timeline.subpictures();
    for (size_t i = 0; i < subs.size(); ++i) {
        const auto& sp = *subs[i];
        if (sp.members.empty()) {
            continue;
        }
        if (number && sp.sequence == *number) {
            return &sp;
        }
        if (frame && sp.start <= *frame && i + 1 < subs.size() && *frame < subs[i + 1]->start) {
            return &sp;
        }
    }
    return nullptr;
}

std::vector<SubpictureRow> subpicture_rows(const PreviewBuild& build,
                                           const script::Script& script) {
    std::vector<SubpictureRow> rows;
    const auto frame = timeline::PlacementSettings::from(script.settings);
    const auto& subs = build.timeline.subpictures();
    for (size_t i = 0; i < subs.size(); ++i) {
        const timeline::Subpicture& sp = *subs[i];
        if (sp.members.empty()) {
            continue;
        }
        SubpictureRow row;
        row.number = sp.sequence;
        row.start = sp.start;
        row.stop = i + 1 < subs.size() ? subs[i + 1]->start : sp.start;
        row.colours[0] = sp.colors.slot0;
        row.colours[1] = sp.colors.slot1;
        row.colours[2] = sp.colors.slot2;
        for (const auto& m : sp.members) {
            const timeline::Point origin = timeline::drawn_origin(m);
            MemberRow member;
            member.event = event_index(script, m.event);
            member.x = origin.x;
            member.y = origin.y;
            member.width = m.rendered ? m.rendered->box_width : 0;
            member.height = m.rendered ? m.rendered->box_height : 0;
            member.cut = timeline::box_exceeds_frame(m, frame);
            row.members.push_back(member);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

render::Bitmap<uint32_t> paint_subpicture(const timeline::Subpicture& sp,
                                          const script::Script& script) {
    const auto& c = script.settings;
    render::SubpictureCanvas canvas(c.res_x, c.res_y - c.minus2);
    timeline::compose(sp, canvas, true);
    render::Bitmap<uint32_t> image(canvas.width(), canvas.height(), c.back_color & 0xFFFFFF);
    for (int32_t y = 0; y < canvas.height(); ++y) {
        for (int32_t x = 0; x < canvas.width(); ++x) {
            const uint8_t k = canvas.classes().at(x, y);
            image.at(x, y) = timeline::colour_of_class(sp.colors, k, c.back_color) & 0xFFFFFF;
        }
    }
    return image;
}

int64_t event_index(const script::Script& script, const script::DialogueEvent* event) {
    const auto& events = script.events();
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].get() == event) {
            return static_cast<int64_t>(i);
        }
    }
    return -1;
}

}  // namespace tessara::document
