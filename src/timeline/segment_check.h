#pragma once

#include <cstdint>
#include <string>

namespace tessara::base {
class Messages;
}
namespace tessara::script {
class Script;
struct ConversionSettings;
}  // namespace tessara::script

// Which subtitles the DVD segmentation would cut: those not wholly inside a defined segment, and
// those a chapter break falls across, each widened by a safety distance.
namespace tessara::timeline {

inline constexpr int64_t kMaxSafetyDistance = 99;

// The distance the check uses for a typed one: values below 0 or above 99 count as 0.
int32_t effective_safety_distance(int64_t typed);

// The check's report (UTF-8, CR LF line ends): "Segments analyzed:", the segments and chapters
// as the segments dialog lists them, then the error lines or "No errors found.". `settings`
// holds validated timing settings and the DVD segments; the events are taken as a generation run
// takes them (old-style segments, ABSOLUTEIN and ABSOLUTEOUT), and the removal of subtitles with
// a negative time span is reported to `messages` as it is there.
std::string segment_check_report(script::Script& script, const script::ConversionSettings& settings,
                                 int64_t safety_distance, base::Messages& messages);

extern const char* const kNoSegmentsDefinedQuestion;

}  // namespace tessara::timeline
