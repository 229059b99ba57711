#pragma once

#include <cstdint>
#include <string>

#include "document/preview.h"

namespace tessara::base {
class Messages;
}

// The dialogs of the preview window: guides and background.
namespace tessara::document {

extern const char* const kBackgroundPictureErrorText;
extern const char* const kBackgroundMovieErrorText;
extern const char* const kCropRangeText;
extern const char* const kMovieShorterText;
extern const char* const kGuideValueText;
extern const char* const kPictureFilter;
extern const char* const kMovieFilter;

// Adds the guide a typed value names (whole pixels from 0 on, below `limit`) unless it is there
// already; false (reported) for anything else.
bool add_typed_guide(std::vector<int32_t>& guides, std::u16string_view text, int32_t limit,
                     base::Messages& messages);

// The background dialog's fields as typed.
struct BackgroundFields {
    BackgroundKind kind = BackgroundKind::Colour;
    std::u16string picture;
    std::u16string movie;
    std::u16string offset;  // SMPTE time of the movie's first frame; empty for none
    std::u16string crop_above;
    std::u16string crop_below;
    script::Colour colour = 0;
    bool do_levels = false;

    static BackgroundFields from(const PreviewDisplay& display);
};

// Checks the fields in order (crop offsets, then the movie's offset) and writes them into the
// display; false (reported, nothing written) when a field is refused.
bool apply_background(const BackgroundFields& fields, PreviewDisplay& display,
                      base::Messages& messages);

}  // namespace tessara::document
