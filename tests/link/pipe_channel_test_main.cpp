// The named pipe's channel, both ends in one process (run under Wine by the test suite): what the
// socket's channel tests check, on the pipe, and the plug-in's client taking a transfer over it.
// Prints one line per failed check; exit status 0 when every check held.

#include <windows.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "base/messages.h"
#include "link/protocol.h"
#include "link/transport.h"
#include "plugin/preview_link_client.h"

namespace {

using namespace tessara::link;

int g_failures = 0;

void check(bool ok, const char* what, int error = 0) {
    if (!ok) {
        ++g_failures;
        std::printf("FAILED: %s (error %d)\n", what, error);
    }
}

// Runs `work` on its own thread.
class Thread {
  public:
    explicit Thread(std::function<void()> work) : m_work(std::move(work)) {
        m_handle = ::CreateThread(nullptr, 0, &Thread::run, this, 0, nullptr);
    }
    ~Thread() { join(); }
    void join() {
        if (m_handle != nullptr) {
            ::WaitForSingleObject(m_handle, INFINITE);
            ::CloseHandle(m_handle);
            m_handle = nullptr;
        }
    }

  private:
    static DWORD WINAPI run(void* self) {
        static_cast<Thread*>(self)->m_work();
        return 0;
    }
    std::function<void()> m_work;
    HANDLE m_handle = nullptr;
};

const SliceCallback kForever = [] { return true; };

std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; ++i) {
        out[i] = static_cast<uint8_t>(i * 7);
    }
    return out;
}

// A request as the program sends it: the header, then each payload as a message of its own.
void send(Channel& server, int32_t command, std::span<const uint8_t> first = {},
          std::span<const uint8_t> second = {}) {
    int error = 0;
    const LinkHeader h{
        2, command, 1, 77, static_cast<int32_t>(first.size()), static_cast<int32_t>(second.size())};
    check(server.write_all(encode(h), kForever, error) == IoStatus::Done, "request written", error);
    for (auto payload : {first, second}) {
        if (!payload.empty()) {
            check(server.write_all(payload, kForever, error) == IoStatus::Done, "payload written",
                  error);
        }
    }
}

int32_t reply_status(Channel& server) {
    std::array<uint8_t, kReplySize> bytes{};
    int error = 0;
    if (server.read_exact(bytes, kForever, error) != IoStatus::Done) {
        return -1;
    }
    return decode_reply(bytes)->status;
}

// The plug-in's client over the pipe: the busy pipe, a whole transfer, a server that leaves.
void client_over_the_pipe() {
    using tessara::plugin::FrameBuffer;
    using tessara::plugin::FrameFormat;
    using tessara::plugin::PreviewLinkClient;
    const FrameFormat format{720, 576, 40000};
    int error = 0;
    tessara::base::RecordingMessages messages;

    // Another plug-in holds the pipe: the message and the system's reason.
    Listener listener;
    check(listener.open(error) == Listener::OpenResult::Ok, "the pipe is created again", error);
    Channel other;
    check(connect_to_server(other, error) == ConnectResult::Connected, "first plug-in", error);
    PreviewLinkClient busy(messages);
    check(!busy.start(format), "a busy pipe fails the start");
    const auto texts = messages.texts();
    check(texts.size() == 2 && texts[0] == tessara::plugin::kOpenFailedText,
          "the open failure is told, followed by the system's text");
    other.close();
    listener.close();

    // A first transfer: everything is asked for and one picture is kept and painted.
    messages.clear();
    check(listener.open(error) == Listener::OpenResult::Ok, "the pipe for a transfer", error);
    PreviewLinkClient client(messages);
    bool started = false;
    Thread plugin([&] { started = client.start(format); });
    Channel server;
    check(listener.accept(server, kForever, error) == IoStatus::Done, "the plug-in connects",
          error);
    send(server, 1);
    check(reply_status(server) == kStatusAccepted, "Hello accepted");
    const auto info = encode(SessionInfo{40000, 40000, 1, 0, 1, 720, 576});
    send(server, 2, info);
    check(reply_status(server) == kStatusSendAll, "a new session asks for everything");
    PictureBuilder builder(0x0000FF, 0x00FF00, 0xFF0000);
    const uint8_t pixels[] = {1, 0, 3};
    builder.add_row(5, 7, pixels);
    std::vector<uint8_t> picture;
    builder.finish(picture);
    const auto add = encode(AddPictureInfo{10, 20, static_cast<int32_t>(picture.size())});
    send(server, 4, add, picture);
    check(reply_status(server) == kStatusAccepted, "the picture is taken");
    send(server, 5);
    check(reply_status(server) == kStatusAccepted, "Close accepted");
    plugin.join();
    server.close();
    listener.close();
    check(started, "the start succeeds");
    check(messages.texts().empty(), "nothing to tell");
    std::vector<uint32_t> frame(720 * 576, 0x123456);
    client.paint(15, FrameBuffer{reinterpret_cast<uint8_t*>(frame.data()), 720, 576, 720 * 4});
    const size_t row = static_cast<size_t>(576 - 1 - 5) * 720;
    check(frame[row + 7] == 0xFF0000 && frame[row + 8] == 0x123456 && frame[row + 9] == 0x0000FF,
          "the picture is painted (red and blue exchanged, 0 transparent)");

    // The server leaves in the middle of a request.
    messages.clear();
    check(listener.open(error) == Listener::OpenResult::Ok, "the pipe once more", error);
    Thread leaving([&] { started = client.start(format); });
    check(listener.accept(server, kForever, error) == IoStatus::Done, "connected again", error);
    const LinkHeader cut{2, 2, 1, 77, static_cast<int32_t>(kSessionInfoSize), 0};
    check(server.write_all(encode(cut), kForever, error) == IoStatus::Done, "header alone", error);
    server.close();
    listener.close();
    leaving.join();
    check(!started, "a server that leaves fails the start");
    check(messages.texts() == std::vector<std::string>{tessara::plugin::kClientReadFailedText},
          "the read failure is told");
    check(client.cache().first() != tessara::plugin::PictureCache::kNone, "the cache is kept");
}

}  // namespace

int main() {
    int error = 0;
    Channel none;
    check(connect_to_server(none, error) == ConnectResult::NoServer, "no pipe: no server");

    Listener listener;
    check(listener.open(error) == Listener::OpenResult::Ok, "the pipe is created", error);
    Listener second;
    check(second.open(error) == Listener::OpenResult::Busy, "one instance only: busy", error);

    // Cancel while waiting for the plug-in: the callback's "stop" ends the wait.
    int slices = 0;
    Channel server;
    check(listener.accept(
              server, [&] { return ++slices < 3; }, error) == IoStatus::Stopped,
          "cancel while waiting for the client");
    check(slices == 3, "the wait was cut into slices");

    Channel client;
    check(connect_to_server(client, error) == ConnectResult::Connected, "the client connects",
          error);
    check(listener.accept(server, kForever, error) == IoStatus::Done, "the server accepts", error);
    Channel third;
    check(connect_to_server(third, error) == ConnectResult::Failed && error == ERROR_PIPE_BUSY,
          "a second client finds the pipe busy", error);

    // A header and a full-frame picture, each one message; the reader takes the picture in two
    // parts (a message read in pieces), the writer's buffer is far smaller than the picture.
    const auto header = encode(LinkHeader{2, 4, 1, 77, 12, 0});
    const auto big = pattern(static_cast<size_t>(max_picture_bytes(720, 576)));
    std::vector<uint8_t> got_header(header.size());
    std::vector<uint8_t> got_front(1000);
    std::vector<uint8_t> got_rest(big.size() - 1000);
    {
        Thread reader([&] {
            int e = 0;
            check(client.read_exact(got_header, kForever, e) == IoStatus::Done, "header read", e);
            check(client.read_exact(got_front, kForever, e) == IoStatus::Done, "front read", e);
            check(client.read_exact(got_rest, kForever, e) == IoStatus::Done, "rest read", e);
        });
        check(server.write_all(header, kForever, error) == IoStatus::Done, "header written", error);
        check(server.write_all(big, kForever, error) == IoStatus::Done, "picture written", error);
    }
    check(std::equal(header.begin(), header.end(), got_header.begin()), "header intact");
    std::vector<uint8_t> whole = got_front;
    whole.insert(whole.end(), got_rest.begin(), got_rest.end());
    check(whole == big, "picture intact");

    // A read nobody answers is cancelled by the callback.
    std::vector<uint8_t> four(4);
    slices = 0;
    check(client.read_exact(
              four, [&] { return ++slices < 2; }, error) == IoStatus::Stopped,
          "cancel while waiting for a reply");

    // The client answers before it has read a payload: the server stops writing it.
    const auto reply = encode(LinkReply{2, 3, 1, 77});
    check(client.write_all(reply, kForever, error) == IoStatus::Done, "reply written", error);
    check(server.write_all(big, kForever, error, true) == IoStatus::ReplyFirst,
          "the payload is not sent once the reply is there", error);
    std::vector<uint8_t> got_reply(reply.size());
    check(server.read_exact(got_reply, kForever, error) == IoStatus::Done, "reply read", error);
    check(std::equal(reply.begin(), reply.end(), got_reply.begin()), "reply intact");

    // The client goes away: the server's read sees the end, its write fails.
    client.close();
    check(server.read_exact(four, kForever, error) == IoStatus::Closed,
          "read after the client left", error);
    check(server.write_all(header, kForever, error) == IoStatus::Failed,
          "write after the client left", error);
    server.close();
    check(connect_to_server(none, error) == ConnectResult::NoServer, "closed: no server again");

    client_over_the_pipe();

    std::printf("%s: %d failed check(s)\n", g_failures == 0 ? "ok" : "FAILED", g_failures);
    return g_failures == 0 ? 0 : 1;
}
