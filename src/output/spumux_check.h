#pragma once

#include <string>

#include "output/verify.h"
#include "script/settings.h"

namespace tessara::output {

// Muxes the spumux XML at `xml_path` (with its PNGs beside it) into a black MPEG program stream
// as long as its subtitles, with spumux, reads the stream back with spuunmux and compares the
// pictures it gives, placed on the frame, with ours: the same pixels drawn, each of our colours
// coming back as one colour (the stream's palette may differ). Mismatches and the reason the
// check could not run go into the report.
void check_with_spumux(const std::string& xml_path, const script::ConversionSettings& settings,
                       VerifyReport& report);

}  // namespace tessara::output
