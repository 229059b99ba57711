#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A VobSub .idx/.sub pair read back the way players read it: through FFmpeg's own VobSub demuxer
// and DVD subtitle decoder, so what is checked is what a player shows, not what our own encoder
// believes it wrote.
namespace tessara::media {

// A picture, `width` pixels to a row, rows top-down, no padding; each pixel 0xAARRGGBB.
struct ArgbImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

// One subpicture as decoded. The times are milliseconds from the start of the film: the unit's
// stamp plus its start and stop delays (the decoder truncates the delays to milliseconds).
//
// The decoder trims every border row and column holding only transparent pixels, so `x`, `y`
// (frame pixels) and `image` describe the smallest rectangle holding every visible pixel, not
// necessarily the unit's display area. A pixel's colour is the .idx palette entry its value
// names, its alpha the unit's contrast for that value times 17: contrast 0 gives 0
// (transparent), 15 gives 0xFF (opaque).
struct VobSubPicture {
    int64_t start_ms = 0;
    int64_t end_ms = 0;
    int32_t x = 0;
    int32_t y = 0;
    ArgbImage image;
};

// Reads a pair one picture at a time, so that a film's pictures need not all be held at once.
class VobSubReader {
  public:
    VobSubReader();
    ~VobSubReader();
    VobSubReader(const VobSubReader&) = delete;
    VobSubReader& operator=(const VobSubReader&) = delete;

    // Opens the pair whose index is `idx_path` (the .sub beside it is found by the demuxer) and
    // its first subtitle stream. False, with a one-line reason in `error`, when the pair cannot
    // be opened or holds no DVD subtitle stream. FFmpeg's own logging is silenced for the whole
    // process from the first call on.
    bool open(const std::string& idx_path, std::string& error);
    // The next picture in file order. False at the end, with `error` empty, or when a unit cannot
    // be decoded, with the reason in `error`. A unit the decoder finds wholly transparent gives
    // no picture.
    bool next(VobSubPicture& picture, std::string& error);

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Every picture of the pair at once (VobSubReader's rules). Nothing, with a one-line reason in
// `error`, when the pair cannot be opened or a unit cannot be decoded.
std::optional<std::vector<VobSubPicture>> read_vobsub(const std::string& idx_path,
                                                      std::string& error);

}  // namespace tessara::media
