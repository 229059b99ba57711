#include <gtest/gtest.h>

#include <vector>

#include "plugin/picture_cache.h"

namespace tessara::plugin {
namespace {

std::vector<std::pair<int32_t, int32_t>> intervals(const PictureCache& cache) {
    std::vector<std::pair<int32_t, int32_t>> out;
    int32_t at = cache.first();
    int32_t prev = PictureCache::kNone;
    while (at != PictureCache::kNone) {
        EXPECT_EQ(cache.entry(at).prev, prev);  // the backward links agree
        out.emplace_back(cache.entry(at).start, cache.entry(at).last);
        prev = at;
        at = cache.entry(at).next;
    }
    EXPECT_EQ(cache.last(), prev);
    EXPECT_EQ(out.size(), cache.size());
    return out;
}

TEST(PictureCache, KeepsIntervalsInOrderAndRefusesAnyOverlap) {
    PictureCache cache;
    using I = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_TRUE(cache.insert(100, 149, {1}));
    EXPECT_TRUE(cache.insert(10, 19, {2}));    // before everything
    EXPECT_TRUE(cache.insert(200, 200, {3}));  // after everything
    EXPECT_TRUE(cache.insert(20, 99, {4}));    // exactly fills the gap
    EXPECT_EQ(intervals(cache), (I{{10, 19}, {20, 99}, {100, 149}, {200, 200}}));

    // Touching an existing entry on either side, or covering one, is refused.
    EXPECT_FALSE(cache.insert(149, 160, {}));  // starts on the last frame of the one before
    EXPECT_FALSE(cache.insert(150, 200, {}));  // ends on the start of the one after
    EXPECT_FALSE(cache.insert(0, 10, {}));
    EXPECT_FALSE(cache.insert(0, 1000, {}));
    EXPECT_FALSE(cache.insert(120, 130, {}));
    EXPECT_TRUE(cache.insert(150, 199, {5}));
    EXPECT_EQ(cache.size(), 5u);
    EXPECT_EQ(cache.entry(cache.first()).picture, (std::vector<uint8_t>{2}));
}

TEST(PictureCache, RemovesByStartAndReusesFreedEntries) {
    PictureCache cache;
    for (int32_t i = 0; i < 300; ++i) {
        ASSERT_TRUE(cache.insert(i * 10, i * 10 + 9, {static_cast<uint8_t>(i)}));
    }
    EXPECT_EQ(cache.capacity(), 2 * PictureCache::kGrowth);
    EXPECT_FALSE(cache.remove(5));  // not a start
    EXPECT_TRUE(cache.remove(0));
    EXPECT_TRUE(cache.remove(2990));
    EXPECT_TRUE(cache.remove(1500));
    EXPECT_FALSE(cache.remove(1500));
    EXPECT_EQ(cache.size(), 297u);
    EXPECT_EQ(cache.entry(cache.first()).start, 10);
    EXPECT_EQ(cache.entry(cache.last()).start, 2980);

    // Freed entries come back before the array grows again.
    for (int32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(cache.insert(5000 + i, 5000 + i, {}));
    }
    EXPECT_EQ(cache.capacity(), 2 * PictureCache::kGrowth);
    ASSERT_TRUE(cache.insert(1500, 1509, {}));
    auto all = intervals(cache);
    ASSERT_EQ(all.size(), 301u);
    for (size_t i = 1; i < all.size(); ++i) {
        EXPECT_LT(all[i - 1].second, all[i].first);
    }

    cache.clear();
    EXPECT_TRUE(cache.empty());
    EXPECT_EQ(cache.first(), PictureCache::kNone);
    EXPECT_TRUE(cache.insert(7, 8, {}));
    EXPECT_EQ(intervals(cache).size(), 1u);
}

}  // namespace
}  // namespace tessara::plugin
