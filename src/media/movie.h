#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessara::base {
class Messages;
class Progress;
}  // namespace tessara::base

namespace tessara::media {

// The text every failure to open a movie is reported with.
inline constexpr const char* kMovieLoadError = "Error loading background movie";

// A frame rate as a fraction: num frames every den seconds (30000/1001 for NTSC).
struct FrameRate {
    int num = 0;
    int den = 1;

    bool operator==(const FrameRate&) const = default;
};

// One picture of the movie at the movie's own size. Pixels are 32-bit 0xFFRRGGBB, row-major,
// `width` to a row with no padding: the layout of QImage::Format_RGB32, so the desktop program
// can wrap `pixels.data()` (stride width * 4 bytes) without copying.
struct MovieFrame {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};

// Frames of the user's film, frame-exactly: frame(N) is always the N-th picture in presentation
// order, whatever the container, the codec's reordering or the seek accuracy of the demuxer.
//
// Index. open() reads the first video stream once from start to end and decodes every frame
// (about a minute for a two-hour SD film). It keeps each frame's presentation timestamp in the
// order the decoder returns them (presentation order), so frame N is the N-th timestamp, and
// each key frame's decode timestamp, byte position and presentation timestamp, in decode order.
// A container that leaves pictures without timestamps (tiny MPEG packs hold several pictures and
// one timestamp) gets the demuxer's best estimate, which comes out the same after a seek.
//
// Seeking. frame(N) seeks to the last key frame whose picture is shown at or before N, by its
// decode timestamp (by its byte position where the demuxer cannot seek by time), feeds the
// decoder from that key packet on and decodes forward until frame N comes out. Pictures the
// decoder returns before the key frame itself are dropped: in an open GOP (MPEG-2 after a cut)
// the B-frames that follow a key frame in the stream but are shown before it reference the
// previous group, so they come out wrong or not at all after a seek. Such a frame is decoded from
// the previous key frame instead, whose group ends with it. Every decoded picture is recognised
// by its timestamp against the index, never by counting from the seek point, and when a seek
// lands later than asked the next earlier key frame is tried; as a last resort the file is read
// again from its start, exactly as the index was made.
//
// Cache. Frames decoded on the way to N are converted and kept, least recently used first out,
// within a memory budget (64 MB by default, about 40 SD frames), so stepping back a few frames
// costs nothing. The decoder stays where it stopped: asking for a frame a little ahead (the next
// frame, or any frame before the next key frame) decodes on without seeking.
//
// Threads. A Movie is used by one thread at a time. frame() blocks for up to a GOP's decoding
// (tens of milliseconds for SD MPEG-2): a slider should not call it for every position it passes
// but hand positions to a decoding thread through LatestFrameRequest, which keeps only the newest.
class Movie {
  public:
    Movie();
    ~Movie();
    Movie(const Movie&) = delete;
    Movie& operator=(const Movie&) = delete;

    // Opens `path` (UTF-8) and indexes its first video stream, reporting through `progress`
    // (range: the file's bytes) and stopping when it says to. Any failure (no such file, not a
    // movie, no video stream, nothing decodable) is reported once as kMovieLoadError and returns
    // false; a cancel returns false without a message. Either way any movie opened before is
    // closed.
    bool open(const std::string& path, base::Progress& progress, base::Messages& messages);
    void close();
    bool is_open() const;

    // The number of frames, exact: the frames the whole-file decode returned. 0 when closed.
    int64_t frame_count() const;
    // The size of the first frame, which every frame is delivered at (in pixels).
    int width() const;
    int height() const;
    // The stream's frame rate as the container and codec give it; 0/1 when unknown.
    FrameRate frame_rate() const;

    // Frame `n` (0-based, presentation order), shared with the cache: the frame stays valid for
    // as long as the caller holds it. nullptr when closed, out of range, or when the file can no
    // longer be decoded there (changed on disk, damaged beyond the index).
    std::shared_ptr<const MovieFrame> frame(int64_t n);

    // Levels: on, video-range luma (16-235) is stretched to full range (0-255); off, the plain
    // conversion leaves 16 as 16 and 235 as 235. Applies to YUV and grey pictures; RGB codecs
    // are delivered as they are. Changing it empties the cache.
    void set_do_levels(bool on);
    bool do_levels() const;

    // The bytes the cache may hold (frames are width * height * 4 bytes); the frame asked for is
    // always delivered even when it alone is over the budget. Shrinking drops frames at once.
    void set_cache_budget(size_t bytes);
    size_t cache_budget() const;
    // The bytes the cache holds now.
    size_t cache_bytes() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tessara::media
