#include "document/feed_source.h"

#include "base/text.h"
#include "link/server.h"
#include "render/subpicture_canvas.h"

namespace tessara::document {

std::map<int32_t, std::vector<uint8_t>> pictures_by_start(
    const PreviewBuild& build, const script::ConversionSettings& settings) {
    std::map<int32_t, std::vector<uint8_t>> out;
    render::SubpictureCanvas canvas(settings.res_x, settings.res_y - settings.minus2);
    for (const auto& sp : build.timeline.subpictures()) {
        if (sp->members.empty()) {
            continue;
        }
        std::vector<uint8_t> picture;
        link::subpicture_picture(*sp, settings, canvas, picture);
        out[sp->start.frame] = std::move(picture);
    }
    return out;
}

bool FeedSource::load_into(std::unique_ptr<Document>& document, const PreviewBuild*& build,
                           base::Messages& messages) const {
    document = std::make_unique<Document>();
    if (!document->open(m_request.path, m_request.preferences, messages)) {
        return false;
    }
    if (document->apply_settings(m_request.settings, messages)) {
        return false;  // checked before the first load: only a setting that needs the file
    }
    if (m_request.offset) {
        document->script().settings.vdub_offset = base::utf8_to_utf16(*m_request.offset);
    }
    build = document->build_preview(nullptr, messages);
    return build != nullptr;
}

bool FeedSource::load(base::Messages& messages) {
    return load_into(m_document, m_build, messages);
}

bool FeedSource::reload(base::Messages& messages) {
    std::unique_ptr<Document> next;
    const PreviewBuild* next_build = nullptr;
    if (!load_into(next, next_build, messages)) {
        return false;
    }
    const auto& settings = m_document->script().settings;
    const auto before = pictures_by_start(*m_build, settings);
    std::map<int32_t, int64_t> ids;
    for (const auto& sp : m_build->timeline.subpictures()) {
        if (!sp->members.empty()) {
            ids[sp->start.frame] = sp->change_id;
        }
    }
    const auto after = pictures_by_start(*next_build, next->script().settings);
    for (auto& sp : next->last_build_for_update().timeline.subpictures()) {
        if (sp->members.empty()) {
            continue;
        }
        const auto id = ids.find(sp->start.frame);
        const auto old_picture = before.find(sp->start.frame);
        const auto new_picture = after.find(sp->start.frame);
        if (id != ids.end() && old_picture != before.end() && new_picture != after.end() &&
            old_picture->second == new_picture->second) {
            sp->change_id = id->second;
        }
    }
    m_document = std::move(next);
    m_build = next_build;
    return true;
}

}  // namespace tessara::document
