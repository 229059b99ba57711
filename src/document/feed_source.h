#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/document.h"

namespace tessara::base {
class Messages;
class Preferences;
}  // namespace tessara::base

namespace tessara::document {

// What the preview link feeds: a script loaded and built, and loaded again when its file
// changes. A reload builds everything anew, so every subpicture gets a new change id; one that
// starts where an earlier one did and looks exactly the same takes the earlier one's id, so that
// only what really changed travels to the plug-in.
class FeedSource {
  public:
    struct Request {
        std::string path;
        const base::Preferences* preferences = nullptr;
        std::vector<SettingText> settings;  // applied after each load
        std::optional<std::string> offset;  // the video's first frame, replacing VDubOffset
    };

    explicit FeedSource(Request request) : m_request(std::move(request)) {}

    // Loads and builds the script. False (reported) when it does not load or build; a failed
    // reload keeps the previous version.
    bool load(base::Messages& messages);
    bool reload(base::Messages& messages);

    Document& document() { return *m_document; }
    const PreviewBuild& build() const { return *m_build; }

  private:
    bool load_into(std::unique_ptr<Document>& document, const PreviewBuild*& build,
                   base::Messages& messages) const;

    Request m_request;
    std::unique_ptr<Document> m_document;
    const PreviewBuild* m_build = nullptr;
};

// The picture bytes the link would send for every subpicture shown, by start frame.
std::map<int32_t, std::vector<uint8_t>> pictures_by_start(
    const PreviewBuild& build, const script::ConversionSettings& settings);

}  // namespace tessara::document
