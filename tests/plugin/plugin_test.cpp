#include <gtest/gtest.h>

#include "filter_host.h"
#include "link_fixtures.h"
#include "plugin/preview_link_client.h"
#include "render/subpicture_canvas.h"

namespace tessara::link_test {
namespace {

using plugin_test::FilterHost;
using plugin_test::HostFrame;

constexpr uint32_t kVideo = 0x123456;  // what the video frame holds before the filter runs

// Subpicture colours hold red in the low byte, host pixels blue.
uint32_t host_colour(uint32_t c) {
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

class PluginTest : public LoadedPlugin {
  protected:
    // One feed with the plug-in starting as soon as the server waits for it.
    bool feed(int32_t frame_us = 40000) {
        std::thread starter;
        dialog.on_waiting = [&] { starter = std::thread([&] { started = host.start(frame_us); }); };
        const bool ok = server.feed(built.timeline, built.script.settings, dialog);
        if (starter.joinable()) {
            starter.join();
        }
        return ok;
    }

    // Runs the filter over frame f of plain video and checks every pixel: the subpicture
    // showing on output frame f + offset painted two rows down (Minus2), the video elsewhere.
    void expect_painted(int32_t f, int32_t offset = 0) {
        SCOPED_TRACE(testing::Message() << "frame " << f);
        HostFrame image(720, 576, kVideo);
        ASSERT_EQ(host.run(f, image), 0);
        const timeline::Subpicture* sp = built.subpicture_at(f + offset);
        render::SubpictureCanvas canvas(720, 574);
        if (sp != nullptr) {
            timeline::compose(*sp, canvas, true);
        }
        const uint32_t by_class[3] = {sp ? sp->colors.slot1 : 0, sp ? sp->colors.slot2 : 0,
                                      sp ? sp->colors.slot0 : 0};
        int painted = 0;
        int wrong = 0;
        for (int32_t y = 0; y < 576; ++y) {
            for (int32_t x = 0; x < 720; ++x) {
                const uint8_t c = y >= 2 ? canvas.classes().at(x, y - 2) : render::kBackground;
                const uint32_t want = c < 3 ? host_colour(by_class[c]) : kVideo;
                painted += c < 3 ? 1 : 0;
                wrong += image.at(x, y) != want ? 1 : 0;
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(painted > 0, sp != nullptr);
    }

    BuiltScript built{three_subtitles()};
    base::RecordingMessages server_messages;
    link::PreviewLinkServer server{server_messages};
    TestDialog dialog;
    int started = -1;
};

TEST_F(PluginTest, ModuleRegistersOneFilterAndWorksInPlace) {
    EXPECT_EQ(host.interface_version(), 7);
    EXPECT_EQ(host.compatible_version(), 4);
    EXPECT_EQ(host.check_version(), 7);
    EXPECT_EQ(host.registered_definition_size(),
              static_cast<int>(sizeof(plugin::abi::FilterDefinition)));
    EXPECT_STREQ(host.definition().name, "TSRA subtitler 1.0");
    EXPECT_STREQ(host.definition().desc, "Adds subtitles from Tessara");
    EXPECT_EQ(host.definition().inst_data_size, static_cast<int>(sizeof(void*)));
    EXPECT_EQ(host.definition().configProc, nullptr);
    EXPECT_NE(host.instance_pointer(), nullptr);
    EXPECT_EQ(host.dst().offset, host.src().offset);
    EXPECT_EQ(host.src().dwFlags, 0u);
    EXPECT_EQ(host.end(), 0);
    // Without frame state there is nothing to start against.
    EXPECT_EQ(host.start(40000, false), 1);
    host.destroy();
    EXPECT_EQ(host.instance_pointer(), nullptr);
    host.unload();
    EXPECT_TRUE(host.removed());
}

TEST_F(PluginTest, WithoutTheProgramItStartsAndPaintsNothing) {
    EXPECT_EQ(host.start(40000), 0);
    expect_painted(30, 100000);  // no subpicture at that frame: the video stays as it is
    EXPECT_TRUE(plugin_messages.messages().empty());
}

TEST_F(PluginTest, PaintsEverySubpictureOnItsFramesInBothDirections) {
    ASSERT_TRUE(feed());
    EXPECT_EQ(started, 0);
    EXPECT_TRUE(server_messages.messages().empty());
    EXPECT_TRUE(plugin_messages.messages().empty());
    using I = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_EQ(cached(), (I{{25, 49}, {75, 99}, {125, 149}}));
    for (int32_t f : {0, 25, 49, 50, 75, 99, 100, 149, 150, 140, 120, 80, 30, 24, 149}) {
        expect_painted(f);
    }

    // The cache survives a start without the program.
    ASSERT_EQ(host.start(40000), 0);
    expect_painted(125);
}

TEST_F(PluginTest, TakesTheTransferOverTheLoopbackLinkToo) {
    server.set_loopback(true);
    ASSERT_TRUE(feed());
    EXPECT_EQ(started, 0);
    EXPECT_TRUE(server_messages.messages().empty());
    EXPECT_TRUE(plugin_messages.messages().empty());
    for (int32_t f : {25, 49, 75, 140}) {
        expect_painted(f);
    }
}

TEST_F(PluginTest, ASecondFeedReplacesOnlyTheMovedSubtitle) {
    ASSERT_TRUE(feed());
    built.move(1, 80, 105);
    ASSERT_TRUE(feed());
    EXPECT_EQ(started, 0);
    EXPECT_TRUE(dialog.feeding.starts_with("Feeding 3 total subtitles (1 new, 1 deleted)"));
    using I = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_EQ(cached(), (I{{25, 49}, {80, 104}, {125, 149}}));
    for (int32_t f : {77, 80, 104, 105, 30}) {
        expect_painted(f);
    }
}

TEST_F(PluginTest, ANewOffsetReplacesTheWholeCache) {
    ASSERT_TRUE(feed());
    built.script.settings.vdub_offset = u"00:00:00:20";
    ASSERT_TRUE(feed());
    using I = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_EQ(cached(), (I{{5, 29}, {55, 79}, {105, 129}}));
    expect_painted(5, 20);
    expect_painted(60, 20);
}

TEST_F(PluginTest, ResolutionMismatchAbortsTheTransferWithItsAdvice) {
    host.destroy();
    host.create(720, 480);
    EXPECT_FALSE(feed());
    EXPECT_EQ(started, 1);
    EXPECT_TRUE(server_messages.messages().empty());  // status 3: the plug-in said why
    EXPECT_EQ(plugin_messages.texts(), (std::vector<std::string>{plugin::kResolutionText}));
    EXPECT_FALSE(server.sent());
}

TEST_F(PluginTest, FrameRateMismatchAbortsUnlessTheCheckIsOff) {
    EXPECT_FALSE(feed(33367));
    EXPECT_EQ(started, 1);
    EXPECT_TRUE(server_messages.messages().empty());
    EXPECT_EQ(plugin_messages.texts(), (std::vector<std::string>{plugin::kFrameRateText}));
    EXPECT_TRUE(std::string(plugin::kFrameRateText).ends_with("feed dialog of Tessara,"));

    plugin_messages.clear();
    dialog.set_dont_check(true);
    EXPECT_TRUE(feed(33367));
    EXPECT_EQ(started, 0);
    EXPECT_TRUE(plugin_messages.messages().empty());
}

TEST_F(PluginTest, StartChecksTheKnownSessionAgainstTheFrame) {
    ASSERT_TRUE(feed());
    // The video changes rate: the cached session no longer fits.
    EXPECT_EQ(host.start(33367), 1);
    EXPECT_EQ(plugin_messages.texts(), (std::vector<std::string>{plugin::kFrameRateText}));

    // The video changes size: the session is forgotten, the cache kept (clipped when painted).
    plugin_messages.clear();
    host.resize(352, 288);
    EXPECT_EQ(host.start(40000), 1);
    EXPECT_EQ(plugin_messages.texts(), (std::vector<std::string>{plugin::kResolutionAtStartText}));
    plugin_messages.clear();
    EXPECT_EQ(host.start(40000), 0);
    HostFrame small(352, 288, kVideo);
    EXPECT_EQ(host.run(30, small), 0);
    EXPECT_EQ(cached().size(), 3u);
}

}  // namespace
}  // namespace tessara::link_test
