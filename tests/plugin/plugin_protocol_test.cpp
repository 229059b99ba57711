#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "filter_host.h"
#include "link_fixtures.h"
#include "plugin/preview_link_client.h"

namespace tessara::link_test {
namespace {

using link::LinkCommand;
using plugin_test::FilterHost;
using plugin_test::HostFrame;

std::vector<uint8_t> ints(std::initializer_list<int32_t> values) {
    std::vector<uint8_t> out;
    for (int32_t v : values) {
        const auto u = static_cast<uint32_t>(v);
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(u >> (8 * i)));
        }
    }
    return out;
}

// A server that says exactly what a test tells it to.
class FakeServer {
  public:
    explicit FakeServer(int32_t session = 77) : m_session(session) {}

    void send_raw(std::span<const uint8_t> bytes) {
        int error = 0;
        channel.write_all(
            bytes, [] { return true; }, error);
    }
    void send(int32_t command, std::span<const uint8_t> first = {},
              std::span<const uint8_t> second = {}) {
        send_raw(link::encode(link::LinkHeader{2, command, 1, m_session,
                                               static_cast<int32_t>(first.size()),
                                               static_cast<int32_t>(second.size())}));
        send_raw(first);
        send_raw(second);
    }
    void send(LinkCommand command, std::span<const uint8_t> first = {},
              std::span<const uint8_t> second = {}) {
        send(static_cast<int32_t>(command), first, second);
    }
    // The status of the client's reply; -1 when none came.
    int32_t status() {
        std::array<uint8_t, link::kReplySize> bytes{};
        int error = 0;
        if (channel.read_exact(
                bytes, [] { return true; }, error) != link::IoStatus::Done) {
            return -1;
        }
        last_reply = *link::decode_reply(bytes);
        return last_reply.status;
    }
    std::vector<uint8_t> session_info(int32_t total, int32_t removed = 0, int32_t added = 0) {
        return ints({40000, 40000, total, removed, added, 720, 576});
    }

    link::Listener listener;
    link::Channel channel;
    link::LinkReply last_reply;

  private:
    int32_t m_session;
};

// A picture of the given rows {y, x, pixel bytes}.
std::vector<uint8_t> picture(
    const std::vector<std::tuple<int32_t, int32_t, std::vector<uint8_t>>>& rows) {
    link::PictureBuilder builder(0x0000FF, 0x00FF00, 0xFF0000);
    for (const auto& [y, x, pixels] : rows) {
        builder.add_row(y, x, pixels);
    }
    std::vector<uint8_t> out;
    builder.finish(out);
    return out;
}

class PluginProtocol : public LoadedPlugin {
  protected:
    // Starts the filter against a fake server running `talk`; the filter's start result.
    int talk_to(FakeServer& server, const std::function<void(FakeServer&)>& talk) {
        int error = 0;
        EXPECT_EQ(server.listener.open(error), link::Listener::OpenResult::Ok);
        int result = -1;
        std::thread starter([&] { result = host.start(40000); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        EXPECT_EQ(
            server.listener.accept(
                server.channel, [&] { return std::chrono::steady_clock::now() < deadline; }, error),
            link::IoStatus::Done);
        talk(server);
        server.channel.close();
        server.listener.close();
        starter.join();
        return result;
    }
    int talk(const std::function<void(FakeServer&)>& f, int32_t session = 77) {
        FakeServer server(session);
        return talk_to(server, f);
    }
};

TEST_F(PluginProtocol, MalformedRequestsAreRefusedWithTheirMessages) {
    using Talk = std::function<void(FakeServer&)>;
    const auto add = [](int32_t start, int32_t last, const std::vector<uint8_t>& p) {
        return ints({start, last, static_cast<int32_t>(p.size())});
    };
    const auto one_row = picture({{10, 10, {1, 2, 3}}});
    struct Case {
        const char* name;
        Talk talk;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"short header",
         [](FakeServer& s) {
             s.send_raw(ints({2, 1}));
         },
         plugin::kClientReadFailedText},
        {"payload shorter than announced",
         [](FakeServer& s) {
             s.send_raw(link::encode(link::LinkHeader{2, 2, 1, 77, 28, 0}));
             s.send_raw(ints({40000, 40000}));
         },
         plugin::kClientReadFailedText},
        {"huge second payload",
         [](FakeServer& s) {
             s.send_raw(link::encode(link::LinkHeader{2, 4, 1, 77, 12, 0x7FFFFFFF}));
             s.status();
         },
         plugin::kUnsupportedFormatText},
        {"negative length",
         [](FakeServer& s) {
             s.send_raw(link::encode(link::LinkHeader{2, 2, 1, 77, -28, 0}));
         },
         plugin::kUnsupportedFormatText},
        {"long first payload",
         [](FakeServer& s) {
             s.send_raw(link::encode(link::LinkHeader{2, 2, 1, 77, 32, 0}));
         },
         plugin::kUnsupportedFormatText},
        {"other version",
         [](FakeServer& s) {
             s.send_raw(link::encode(link::LinkHeader{3, 1, 1, 77, 0, 0}));
             EXPECT_EQ(s.status(), link::kStatusAbort);
             EXPECT_EQ(s.last_reply.version, 2);
             EXPECT_EQ(s.last_reply.session_id, 0);
         },
         plugin::kServerVersionText},
        {"hello with a payload", [](FakeServer& s) { s.send(LinkCommand::Hello, ints({1})); },
         plugin::kUnsupportedFormatText},
        {"session info without payload", [](FakeServer& s) { s.send(LinkCommand::SessionInfo); },
         plugin::kUnsupportedFormatText},
        {"session info of the wrong size",
         [](FakeServer& s) {
             s.send(LinkCommand::SessionInfo, ints({1, 2, 3}));
         },
         plugin::kUnsupportedFormatText},
        {"unknown command", [](FakeServer& s) { s.send(9); }, plugin::kInvalidCommandText},
        {"decline with a payload", [](FakeServer& s) { s.send(link::kStatusDeclined, ints({1})); },
         plugin::kUnsupportedFormatText},
        {"picture before the session",
         [&](FakeServer& s) { s.send(LinkCommand::AddPicture, add(0, 5, one_row), one_row); },
         plugin::kInvalidCommandText},
        {"removal while pictures are due",
         [&](FakeServer& s) {
             s.send(LinkCommand::SessionInfo, s.session_info(2));
             EXPECT_EQ(s.status(), link::kStatusSendAll);
             s.send(LinkCommand::RemovePicture, ints({0}));
         },
         plugin::kInvalidSequenceText},
        {"picture without the picture",
         [&](FakeServer& s) {
             s.send(LinkCommand::SessionInfo, s.session_info(1));
             s.status();
             s.send(LinkCommand::AddPicture, add(0, 5, one_row));
         },
         plugin::kUnsupportedFormatText},
        {"picture size that lies",
         [&](FakeServer& s) {
             s.send(LinkCommand::SessionInfo, s.session_info(1));
             s.status();
             s.send(LinkCommand::AddPicture, ints({0, 5, 8}), one_row);
         },
         plugin::kInvalidAddText},
        {"row running past the picture",
         [&](FakeServer& s) {
             s.send(LinkCommand::SessionInfo, s.session_info(1));
             s.status();
             auto broken = one_row;
             broken[20] = 200;
             s.send(LinkCommand::AddPicture, add(0, 5, broken), broken);
         },
         plugin::kInvalidAddText},
        {"interval ending before it starts",
         [&](FakeServer& s) {
             s.send(LinkCommand::SessionInfo, s.session_info(1));
             s.status();
             s.send(LinkCommand::AddPicture, add(9, 5, one_row), one_row);
         },
         plugin::kInvalidAddText},
        {"picture touching an earlier one",
         [&](FakeServer& s) {
             s.send(LinkCommand::SessionInfo, s.session_info(2));
             s.status();
             s.send(LinkCommand::AddPicture, add(10, 20, one_row), one_row);
             EXPECT_EQ(s.status(), link::kStatusAccepted);
             s.send(LinkCommand::AddPicture, add(20, 30, one_row), one_row);
         },
         plugin::kInvalidAddText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        plugin_messages.clear();
        EXPECT_EQ(talk(c.talk), 1);
        EXPECT_EQ(plugin_messages.texts(), (std::vector<std::string>{c.text}));
    }
}

TEST_F(PluginProtocol, RemovalsInALaterTransferOfTheSameSession) {
    const auto p = picture({{10, 10, {1}}});
    auto first = [&](FakeServer& s) {
        s.send(LinkCommand::Hello);
        EXPECT_EQ(s.status(), 1);
        s.send(LinkCommand::SessionInfo, s.session_info(2));
        EXPECT_EQ(s.status(), link::kStatusSendAll);
        s.send(LinkCommand::AddPicture, ints({10, 19, static_cast<int32_t>(p.size())}), p);
        EXPECT_EQ(s.status(), 1);
        s.send(LinkCommand::AddPicture, ints({30, 39, static_cast<int32_t>(p.size())}), p);
        EXPECT_EQ(s.status(), 1);
        s.send(LinkCommand::Close);
        EXPECT_EQ(s.status(), 1);
        EXPECT_EQ(s.last_reply.session_id, 77);
        EXPECT_EQ(s.last_reply.server_thread, 1);
    };
    EXPECT_EQ(talk(first), 0);
    using I = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_EQ(cached(), (I{{10, 19}, {30, 39}}));

    // Same session: changes only.
    EXPECT_EQ(
        talk([&](FakeServer& s) {
            s.send(LinkCommand::SessionInfo, s.session_info(2, 1, 1));
            EXPECT_EQ(s.status(), link::kStatusAccepted);
            s.send(LinkCommand::RemovePicture, ints({30}));
            EXPECT_EQ(s.status(), 1);
            s.send(LinkCommand::AddPicture, ints({20, 25, static_cast<int32_t>(p.size())}), p);
            EXPECT_EQ(s.status(), 1);
            s.send(LinkCommand::Close);
            EXPECT_EQ(s.status(), 1);
        }),
        0);
    EXPECT_EQ(cached(), (I{{10, 19}, {20, 25}}));

    // A removal of a picture the plug-in does not hold.
    EXPECT_EQ(talk([&](FakeServer& s) {
                  s.send(LinkCommand::SessionInfo, s.session_info(2, 1, 0));
                  EXPECT_EQ(s.status(), link::kStatusAccepted);
                  s.send(LinkCommand::RemovePicture, ints({99}));
              }),
              1);
    EXPECT_EQ(plugin_messages.texts(), (std::vector<std::string>{plugin::kInvalidRemoveText}));

    // The failure forgot the session, so the next transfer replaces everything.
    plugin_messages.clear();
    EXPECT_EQ(talk([&](FakeServer& s) {
                  s.send(LinkCommand::SessionInfo, s.session_info(0));
                  EXPECT_EQ(s.status(), link::kStatusSendAll);
                  s.send(LinkCommand::Close);
                  EXPECT_EQ(s.status(), 1);
              }),
              0);
    EXPECT_TRUE(cached().empty());

    // Hello starts over: the pictures still due are no longer expected.
    EXPECT_EQ(talk(
                  [&](FakeServer& s) {
                      s.send(LinkCommand::SessionInfo, s.session_info(5));
                      EXPECT_EQ(s.status(), link::kStatusSendAll);
                      s.send(LinkCommand::Hello);
                      EXPECT_EQ(s.status(), 1);
                      s.send(LinkCommand::Close);
                      EXPECT_EQ(s.status(), 1);
                  },
                  78),
              0);

    // A server that declines ends the start.
    EXPECT_EQ(talk([&](FakeServer& s) {
                  s.send(link::kStatusDeclined);
                  EXPECT_EQ(s.status(), 1);
              }),
              1);
}

TEST_F(PluginProtocol, FullFramePicturesAndRowsOutsideTheFrameAreClipped) {
    std::vector<std::tuple<int32_t, int32_t, std::vector<uint8_t>>> full;
    for (int32_t y = 0; y < 576; ++y) {
        full.emplace_back(y, 0, std::vector<uint8_t>(720, 3));
    }
    const auto whole = picture(full);
    ASSERT_EQ(static_cast<int64_t>(whole.size()), link::max_picture_bytes(720, 576));
    // Rows above, below and across the edges, and pixel bytes no server sends.
    const auto edges = picture({{-1, 0, {1, 1}},
                                {576, 0, {1, 1}},
                                {5, -3, {1, 2, 3, 1, 2}},
                                {6, 715, {2, 2, 2, 2, 2, 2, 2, 2}},
                                {7, 100, {7, 1, 255}},
                                {8, -2000000000, {1}},
                                {9, 2000000000, {1}}});
    const auto empty = ints({4});
    EXPECT_EQ(talk([&](FakeServer& s) {
                  s.send(LinkCommand::SessionInfo, s.session_info(3));
                  s.status();
                  s.send(LinkCommand::AddPicture, ints({0, 0, static_cast<int32_t>(whole.size())}),
                         whole);
                  EXPECT_EQ(s.status(), 1);
                  s.send(LinkCommand::AddPicture, ints({1, 1, static_cast<int32_t>(edges.size())}),
                         edges);
                  EXPECT_EQ(s.status(), 1);
                  s.send(LinkCommand::AddPicture, ints({2, 5, 4}), empty);
                  EXPECT_EQ(s.status(), 1);
                  s.send(LinkCommand::Close);
                  EXPECT_EQ(s.status(), 1);
              }),
              0);
    EXPECT_TRUE(plugin_messages.messages().empty());

    HostFrame image(720, 576, 0);
    host.run(0, image);
    for (uint32_t p : image.pixels) {
        ASSERT_EQ(p, 0x0000FFu);  // colour 3 (0xFF0000, red low) as a host pixel
    }
    image.pixels.assign(image.pixels.size(), 0);
    host.run(1, image);
    std::vector<std::tuple<int32_t, int32_t, uint32_t>> painted;
    for (int32_t y = 0; y < 576; ++y) {
        for (int32_t x = 0; x < 720; ++x) {
            if (image.at(x, y) != 0) {
                painted.emplace_back(x, y, image.at(x, y));
            }
        }
    }
    const uint32_t c1 = 0xFF0000, c2 = 0x00FF00;
    std::vector<std::tuple<int32_t, int32_t, uint32_t>> expected = {
        {0, 5, c1},   {1, 5, c2},   {715, 6, c2}, {716, 6, c2},
        {717, 6, c2}, {718, 6, c2}, {719, 6, c2}, {101, 7, c1}};
    std::sort(painted.begin(), painted.end(), [](auto& a, auto& b) {
        return std::tie(std::get<1>(a), std::get<0>(a)) < std::tie(std::get<1>(b), std::get<0>(b));
    });
    EXPECT_EQ(painted, expected);

    // The empty picture is held for its frames and paints nothing.
    EXPECT_EQ(cached().back(), (std::pair<int32_t, int32_t>{2, 5}));
    image.pixels.assign(image.pixels.size(), 0);
    host.run(3, image);
    EXPECT_EQ(std::count(image.pixels.begin(), image.pixels.end(), 0u),
              static_cast<ptrdiff_t>(image.pixels.size()));
}

TEST_F(PluginProtocol, AServerThatGoesQuietTimesOut) {
    host.destroy();
    host.set_wait_limit_ms(300);
    host.create(720, 576);
    EXPECT_EQ(talk([](FakeServer& s) {
                  s.send(LinkCommand::Hello);
                  s.status();
                  // Nothing more is sent: the plug-in gives up and closes its end.
                  EXPECT_EQ(s.status(), -1);
              }),
              1);
    EXPECT_EQ(plugin_messages.texts(), (std::vector<std::string>{plugin::kTimeoutText}));
}

}  // namespace
}  // namespace tessara::link_test
