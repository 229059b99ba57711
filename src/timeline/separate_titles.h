#pragma once

#include "script/script_tools.h"

namespace tessara::base {
class Messages;
}
namespace tessara::script {
class Script;
}

namespace tessara::timeline {

extern const char* const kMultipleTimelinesText;
extern const char* const kTitlesChangedFormat;  // one %d: the number of titles
extern const char* const kNoTitlesChangedText;

// Makes every subtitle that is shown alone and directly followed by another one end one frame
// before the next subpicture starts, so that one empty frame separates them (a subtitle that
// went on under the next one ends there too). The end is written back into the Dialogue line at
// FPS in, through the offsets of the old-style segment, and the subtitle's ABSOLUTEOUT is
// dropped. Blinking lines, and subtitles that would be left without a visible frame, are not
// changed. Failed with more than one old-style segment or invalid timing settings.
script::ToolOutcome separate_titles(script::Script& script, base::Messages& messages);

}  // namespace tessara::timeline
