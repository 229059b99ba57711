#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "link/loopback.h"
#include "link_fixtures.h"
#include "render/subpicture_canvas.h"

namespace tessara::link_test {
namespace {

using link::LinkCommand;

constexpr int32_t kHello = static_cast<int32_t>(LinkCommand::Hello);
constexpr int32_t kInfo = static_cast<int32_t>(LinkCommand::SessionInfo);
constexpr int32_t kRemove = static_cast<int32_t>(LinkCommand::RemovePicture);
constexpr int32_t kAdd = static_cast<int32_t>(LinkCommand::AddPicture);
constexpr int32_t kClose = static_cast<int32_t>(LinkCommand::Close);

class FeedFixture : public testing::Test {
  protected:
    // One feed against the recording client.
    bool feed() {
        client.received.clear();
        dialog.statuses.clear();
        dialog.on_waiting = [this] { client.start(); };
        const bool ok = server.feed(built.timeline, built.script.settings, dialog);
        client.join();
        return ok;
    }

    SocketFolder folder;
    BuiltScript built{three_subtitles()};
    base::RecordingMessages messages;
    link::PreviewLinkServer server{messages};
    TestDialog dialog;
    WireClient client;
};

// The transfer over the socket, and over the loopback link the client finds when no socket is
// there: the same requests, failures and messages.
class ServerFeed : public FeedFixture, public testing::WithParamInterface<bool> {
  protected:
    ServerFeed() { server.set_loopback(GetParam()); }
};
INSTANTIATE_TEST_SUITE_P(Channels, ServerFeed, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& param) {
                             return param.param ? "Loopback" : "Socket";
                         });

class SocketFeed : public FeedFixture {};

TEST_P(ServerFeed, FirstFeedShakesHandsAndSendsEveryPicture) {
    ASSERT_TRUE(feed());
    EXPECT_EQ(commands_of(client.received),
              (std::vector<int32_t>{kHello, kInfo, kAdd, kAdd, kAdd, kClose}));
    const auto info = link::decode_session_info(client.received[1].first);
    ASSERT_TRUE(info);
    EXPECT_EQ(*info, (link::SessionInfo{40000, 40000, 3, 0, 3, 720, 576}));
    EXPECT_TRUE(
        dialog.feeding.starts_with("Feeding 3 total subtitles (3 new, 0 deleted)\n\n"
                                   "Please start VirtualDub preview"));
    EXPECT_EQ(dialog.shown_offset, "00:00:00:00");
    EXPECT_EQ(dialog.statuses,
              (std::vector<std::string>{
                  std::string(link::kWaitingText), std::string(link::kHandshakeText),
                  std::string(link::kSendingText), std::string(link::kClosingText),
                  std::string(link::kSentText)}));
    EXPECT_TRUE(dialog.locked);

    // Every header carries the server's thread and session; pictures their frames and size.
    std::vector<std::pair<int32_t, int32_t>> intervals;
    for (const auto& m : client.received) {
        EXPECT_EQ(m.header.version, 2);
        EXPECT_EQ(m.header.server_thread, server.server_thread());
        EXPECT_EQ(m.header.session_id, server.session_id());
        if (m.header.command == kAdd) {
            const auto add = link::decode_add_picture(m.first);
            ASSERT_TRUE(add);
            EXPECT_EQ(add->byte_count, static_cast<int32_t>(m.second.size()));
            EXPECT_TRUE(link::PictureReader::open(m.second));
            intervals.emplace_back(add->start, add->last);
        }
    }
    using I = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_EQ(intervals, (I{{25, 49}, {75, 99}, {125, 149}}));
    ASSERT_TRUE(server.sent());
    EXPECT_EQ(server.sent()->size(), 3u);
    EXPECT_TRUE(messages.messages().empty());
}

TEST_P(ServerFeed, LaterFeedsSendOnlyTheChanges) {
    ASSERT_TRUE(feed());
    const int32_t session = server.session_id();

    built.move(1, 80, 105);  // the second subtitle moves five frames later
    ASSERT_TRUE(feed());
    EXPECT_EQ(commands_of(client.received), (std::vector<int32_t>{kInfo, kRemove, kAdd, kClose}));
    EXPECT_EQ(*link::decode_session_info(client.received[0].first),
              (link::SessionInfo{40000, 40000, 3, 1, 1, 720, 576}));
    EXPECT_EQ(link::decode_frame(client.received[1].first), 75);
    EXPECT_EQ(
        *link::decode_add_picture(client.received[2].first),
        (link::AddPictureInfo{80, 104, static_cast<int32_t>(client.received[2].second.size())}));
    EXPECT_EQ(server.session_id(), session);
    EXPECT_TRUE(dialog.feeding.starts_with("Feeding 3 total subtitles (1 new, 1 deleted)"));

    // Nothing changed: only the session and the close.
    ASSERT_TRUE(feed());
    EXPECT_EQ(commands_of(client.received), (std::vector<int32_t>{kInfo, kClose}));
}

TEST_P(ServerFeed, ANewOffsetMakesANewSessionAndEverythingIsSentAgain) {
    ASSERT_TRUE(feed());
    const int32_t session = server.session_id();
    built.script.settings.vdub_offset = u"00:00:00:20";
    ASSERT_TRUE(feed());
    EXPECT_NE(server.session_id(), session);
    EXPECT_EQ(commands_of(client.received),
              (std::vector<int32_t>{kInfo, kAdd, kAdd, kAdd, kClose}));
    EXPECT_EQ(link::decode_add_picture(client.received[1].first)->start, 5);
    EXPECT_EQ(dialog.shown_offset, "00:00:00:20");

    // The offset dialog changes it while waiting: a bad value is refused, a good one stored.
    dialog.requests = {link::DialogRequest::ChangeOffset};
    dialog.typed_offsets = {"00:00:0x:00", "00:00:01:00"};
    const int32_t second_session = server.session_id();
    client.received.clear();
    dialog.polls = 0;
    dialog.on_waiting = nullptr;
    dialog.on_poll = [this](int n) {
        if (n == 2) {
            client.start();  // the plug-in connects once the offset is changed
        }
    };
    ASSERT_TRUE(server.feed(built.timeline, built.script.settings, dialog));
    client.join();
    EXPECT_EQ(dialog.shown_offset, "00:00:01:00");
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"Invalid SMPTE value"}));
    EXPECT_EQ(built.script.settings.vdub_offset, u"00:00:01:00");
    EXPECT_TRUE(built.script.settings.modified);
    EXPECT_NE(server.session_id(), second_session);
    EXPECT_EQ(link::decode_add_picture(client.received[1].first)->start, 0);
}

TEST_P(ServerFeed, ASecondPlugInFindsTheChannelTakenWhileATransferRuns) {
    link::ConnectResult second = link::ConnectResult::Connected;
    int second_error = 0;
    client.answer = [&](const WireMessage& m, link::LinkReply r) -> std::optional<link::LinkReply> {
        if (m.header.command == kInfo) {
            link::Channel channel;
            second = link::connect_to_server(channel, second_error);
        }
        return r;
    };
    ASSERT_TRUE(feed());
    EXPECT_EQ(second, link::ConnectResult::Failed);
    EXPECT_EQ(second_error, EBUSY);
    // Once the transfer is over there is no server at all.
    link::Channel channel;
    EXPECT_EQ(link::connect_to_server(channel, second_error), link::ConnectResult::NoServer);
}

TEST_P(ServerFeed, APlugInThatGivesUpBeforeThePictureEndsTheFeedSilently) {
    client.abort_before_picture = true;
    EXPECT_FALSE(feed());
    EXPECT_EQ(commands_of(client.received), (std::vector<int32_t>{kHello, kInfo, kAdd}));
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_FALSE(server.sent());
}

TEST(ServerPictures, RatesColoursAndRowsFollowTheScript) {
    SocketFolder folder;
    // Film at 23.976 shown at 29.97, without the two-row shift.
    BuiltScript built{three_subtitles("FPSin=23.976;FPSout=29.97;Minus2=0;")};
    // Three different colours, so that their order on the wire shows.
    for (auto& sp : built.timeline.subpictures()) {
        sp->colors.slot0 = 0x0000A0;
        sp->colors.slot1 = 0x00B000;
        sp->colors.slot2 = 0xC00000;
    }
    base::RecordingMessages messages;
    link::PreviewLinkServer server{messages};
    TestDialog dialog;
    WireClient client;
    dialog.on_waiting = [&] { client.start(); };
    ASSERT_TRUE(server.feed(built.timeline, built.script.settings, dialog));
    client.join();
    ASSERT_EQ(client.received.size(), 6u);
    const auto info = *link::decode_session_info(client.received[1].first);
    EXPECT_EQ(info.output_frame_us, 33367);
    EXPECT_EQ(info.input_frame_us, 41708);

    const auto& add = client.received[2];
    const auto picture = link::PictureReader::open(add.second);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->colour(1), 0x0000A0u);  // class 2 in slot 0
    EXPECT_EQ(picture->colour(2), 0xC00000u);  // class 1 in slot 2
    EXPECT_EQ(picture->colour(3), 0x00B000u);  // class 0 (the text) in slot 1
    // The first row holds the first canvas row with content, unshifted.
    render::SubpictureCanvas canvas(720, 576);
    timeline::compose(*built.subpicture_at(link::decode_add_picture(add.first)->start), canvas,
                      true);
    int32_t first_row = -1;
    for (int32_t y = 0; y < 576 && first_row < 0; ++y) {
        for (int32_t x = 0; x < 720; ++x) {
            if (canvas.classes().at(x, y) != render::kBackground) {
                first_row = y;
                break;
            }
        }
    }
    int32_t sent_row = -1;
    picture->for_each_row([&](const link::PictureRow& row) {
        if (sent_row < 0) {
            sent_row = row.y;
        }
    });
    EXPECT_GE(first_row, 0);
    EXPECT_EQ(sent_row, first_row);
}

TEST_P(ServerFeed, DontCheckFrameRateSendsZeroDurationsAndIsStored) {
    dialog.set_dont_check(true);
    ASSERT_TRUE(feed());
    const auto info = *link::decode_session_info(client.received[1].first);
    EXPECT_EQ(info.output_frame_us, 0);
    EXPECT_EQ(info.input_frame_us, 0);
    EXPECT_TRUE(built.script.settings.dont_check_fr);
    EXPECT_TRUE(built.script.settings.modified);
}

TEST_P(ServerFeed, CancelWhileWaitingLeavesTheSentListAsItWas) {
    ASSERT_TRUE(feed());
    const auto sent = *server.sent();
    built.move(1, 80, 105);
    dialog.on_waiting = nullptr;
    dialog.requests = {link::DialogRequest::None, link::DialogRequest::Cancel};
    EXPECT_FALSE(server.feed(built.timeline, built.script.settings, dialog));
    EXPECT_EQ(*server.sent(), sent);
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_GE(dialog.polls, 2);
    // The socket is gone: a plug-in starting now finds no program.
    link::Channel channel;
    int error = 0;
    EXPECT_EQ(link::connect_to_server(channel, error), link::ConnectResult::NoServer);
    // The next feed still sends the move.
    ASSERT_TRUE(feed());
    EXPECT_EQ(commands_of(client.received), (std::vector<int32_t>{kInfo, kRemove, kAdd, kClose}));
}

TEST_P(ServerFeed, BadRepliesEndTheFeedWithTheirMessages) {
    struct Case {
        int32_t command;  // the request whose answer is replaced
        std::optional<link::LinkReply> reply;
        std::vector<std::string> texts;
    };
    const std::vector<Case> cases = {
        {kHello, link::LinkReply{3, 1}, {"Client has not the same version as the server"}},
        {kInfo,
         link::LinkReply{2, link::kStatusDeclined},
         {"The client has declined the data transfer"}},
        {kHello, link::LinkReply{2, 2}, {std::string(link::kProtocolErrorText)}},
        {kAdd, link::LinkReply{2, 2}, {std::string(link::kProtocolErrorText)}},
        {kInfo, link::LinkReply{2, 7}, {std::string(link::kProtocolErrorText)}},
        {kInfo, link::LinkReply{2, link::kStatusAbort}, {}},  // the plug-in already told why
        {kClose, link::LinkReply{2, link::kStatusAbort}, {}},
        {kAdd,
         std::nullopt,
         {"Cannot read from the pipe.\n\nThis is probably because the plugin\nhas aborted the "
          "connection."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "command " << c.command);
        messages.clear();
        client.answer = [&](const WireMessage& m,
                            link::LinkReply r) -> std::optional<link::LinkReply> {
            return m.header.command == c.command ? c.reply : std::optional(r);
        };
        EXPECT_FALSE(feed());
        EXPECT_EQ(messages.texts(), c.texts);
        EXPECT_FALSE(server.sent());  // nothing counts as held by the plug-in
        EXPECT_TRUE(server.handshake_needed());
        client.known_session = 0;
    }
}

TEST_P(ServerFeed, APlugInThatVanishesMidPictureIsAnIoFailureNotASignal) {
    client.answer = [](const WireMessage& m, link::LinkReply r) -> std::optional<link::LinkReply> {
        if (m.header.command == kInfo) {
            return std::nullopt;  // leaves before the pictures
        }
        return r;
    };
    EXPECT_FALSE(feed());
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_TRUE(messages.texts()[0].starts_with("Cannot read from the pipe.") ||
                messages.texts()[0].starts_with("Cannot write to the pipe."));
}

TEST_F(SocketFeed, ALiveServerMakesTheSecondOneBusyAndAStaleSocketIsReplaced) {
    link::Listener other;
    int error = 0;
    ASSERT_EQ(other.open(error), link::Listener::OpenResult::Ok);
    EXPECT_FALSE(server.feed(built.timeline, built.script.settings, dialog));
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts()[0],
              "Another tessara feed may be running (" + link::socket_path() + " is in use).");
    other.close();

    // A socket file left behind by a server that died: nobody listens on it, nobody holds the
    // lock beside it.
    const auto path = link::socket_path();
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(std::filesystem::exists(path));
    messages.clear();
    ASSERT_TRUE(feed());
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_FALSE(std::filesystem::exists(path));  // removed once the transfer is over
}

// A full-frame picture goes through in one record whatever the buffers hold, and a peer that
// goes away is seen as the end by reads and as a failure (never a signal) by writes.
void expect_records_and_a_vanished_peer(link::Channel& a, link::Channel& accepted) {
    int error = 0;
    std::vector<uint8_t> big(static_cast<size_t>(link::max_picture_bytes(720, 576)));
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(i * 7);
    }
    std::vector<uint8_t> got(big.size());
    std::thread reader([&] {
        int e = 0;
        EXPECT_EQ(a.read_exact(
                      got, [] { return true; }, e),
                  link::IoStatus::Done);
    });
    EXPECT_EQ(accepted.write_all(
                  big, [] { return true; }, error),
              link::IoStatus::Done);
    reader.join();
    EXPECT_EQ(got, big);

    a.close();
    std::array<uint8_t, 4> four{};
    EXPECT_EQ(accepted.read_exact(
                  four, [] { return true; }, error),
              link::IoStatus::Closed);
    // TCP takes the first write after the peer's end into its buffers; the reset that answers
    // it fails the next one.
    auto status = link::IoStatus::Done;
    for (int i = 0; i < 4 && status == link::IoStatus::Done; ++i) {
        status = accepted.write_all(
            big, [] { return true; }, error);
    }
    EXPECT_EQ(status, link::IoStatus::Failed);
    EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << error;
}

TEST(Listener, SocketIsPrivateAndTakesOneClient) {
    SocketFolder folder;
    link::Listener listener;
    int error = 0;
    ASSERT_EQ(listener.open(error), link::Listener::OpenResult::Ok);
    struct stat st {};
    ASSERT_EQ(::stat(link::socket_path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    link::Channel a;
    ASSERT_EQ(link::connect_to_server(a, error), link::ConnectResult::Connected);
    link::Channel accepted;
    ASSERT_EQ(listener.accept(
                  accepted, [] { return false; }, error),
              link::IoStatus::Done);
    link::Channel b;
    EXPECT_EQ(link::connect_to_server(b, error), link::ConnectResult::Failed);
    EXPECT_EQ(error, EBUSY);
    expect_records_and_a_vanished_peer(a, accepted);
}

// A plain TCP connection to the port, sending `secret` (when given) and closing.
bool knock(uint16_t port, const char* host, const std::string* secret) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, host, &to.sin_addr);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    if (connected && secret != nullptr) {
        EXPECT_EQ(::send(fd, secret->data(), secret->size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(secret->size()));
    }
    ::close(fd);
    return connected;
}

TEST(Listener, LoopbackTakesOnlyTheClientWithTheSecretOn127001) {
    SocketFolder folder;
    link::LoopbackListener listener;
    std::vector<std::string> refused;
    listener.set_refusal_log([&](const std::string& text) { refused.push_back(text); });
    int error = 0;
    ASSERT_EQ(listener.open(error), link::Listener::OpenResult::Ok);
    const std::string file = listener.file_path();
    EXPECT_EQ(file, (folder.path() / "Tessara-plugin.loopback").string());
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const auto address = link::parse_loopback_file(test::read_file(file));
    ASSERT_TRUE(address);
    EXPECT_EQ(address->port, listener.port());

    // Bound to 127.0.0.1 itself: another address of this machine, even another loopback one,
    // finds nothing on the port.
    EXPECT_FALSE(knock(listener.port(), "127.0.0.2", nullptr));
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) == 0) {
        for (ifaddrs* i = interfaces; i != nullptr; i = i->ifa_next) {
            if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET) {
                char text[INET_ADDRSTRLEN];
                const auto* in = reinterpret_cast<sockaddr_in*>(i->ifa_addr);
                ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
                if (std::string(text) != "127.0.0.1") {
                    EXPECT_FALSE(knock(listener.port(), text, nullptr)) << text;
                }
            }
        }
        ::freeifaddrs(interfaces);
    }

    // Without the secret, or with another one, the connection is dropped and reported; the
    // listener goes on waiting for the right client.
    const std::string wrong(link::kSecretSize, 'a');
    ASSERT_TRUE(knock(listener.port(), "127.0.0.1", nullptr));
    ASSERT_TRUE(knock(listener.port(), "127.0.0.1", &wrong));
    link::Channel a;
    ASSERT_EQ(link::connect_loopback(file, a, error), link::ConnectResult::Connected);
    link::Channel accepted;
    ASSERT_EQ(listener.accept(
                  accepted, [] { return true; }, error),
              link::IoStatus::Done);
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_TRUE(refused[0].starts_with("Dropped a loopback connection from 127.0.0.1:"));
    EXPECT_TRUE(refused[0].ends_with(": no secret")) << refused[0];
    EXPECT_TRUE(refused[1].ends_with(": wrong secret")) << refused[1];
    // Accepted: the file is gone, and nobody else gets in.
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(knock(listener.port(), "127.0.0.1", nullptr));
    expect_records_and_a_vanished_peer(a, accepted);
    listener.close();

    // A file left by a server that died: the client finds no server, the next server replaces
    // it; a second server meanwhile is busy.
    test::write_file(file, link::format_loopback_file({address->port, address->secret}));
    std::filesystem::permissions(
        file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(link::connect_loopback(file, a, error), link::ConnectResult::NoServer);
    ASSERT_EQ(listener.open(error), link::Listener::OpenResult::Ok);
    link::LoopbackListener second;
    EXPECT_EQ(second.open(error), link::Listener::OpenResult::Busy);
    link::Listener socket;
    EXPECT_EQ(socket.open(error), link::Listener::OpenResult::Busy);
    EXPECT_NE(link::parse_loopback_file(test::read_file(file))->secret, address->secret);
    // A file others can read is not the server's; neither is a garbled one.
    std::filesystem::permissions(file, std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(link::connect_loopback(file, a, error), link::ConnectResult::Failed);
    EXPECT_EQ(error, EACCES);
    std::filesystem::remove(file);
    test::write_file(file, "garbage\n");
    std::filesystem::permissions(
        file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(link::connect_loopback(file, a, error), link::ConnectResult::Failed);
    EXPECT_EQ(error, EINVAL);
}

TEST(LoopbackFile, HoldsExactlyAPortAndASecret) {
    const std::string secret = "0123456789abcdef0123456789abcdef";
    const std::string text = link::format_loopback_file({4711, secret});
    EXPECT_EQ(text, "4711 " + secret + "\n");
    EXPECT_EQ(link::parse_loopback_file(text), (link::LoopbackAddress{4711, secret}));
    for (const std::string& bad : std::vector<std::string>{
             "0 " + secret + "\n", "65536 " + secret + "\n", "4711 " + secret, " " + secret + "\n",
             "4711 " + secret.substr(1) + "\n", "4711 " + secret + "0\n",
             "4711 0123456789ABCDEF0123456789abcdef\n", "47x1 " + secret + "\n"}) {
        EXPECT_FALSE(link::parse_loopback_file(bad)) << bad;
    }
    EXPECT_TRUE(link::same_secret(secret, secret));
    EXPECT_FALSE(link::same_secret(secret, std::string(32, '0')));
    EXPECT_FALSE(link::same_secret(secret, secret.substr(1)));
}

}  // namespace
}  // namespace tessara::link_test
