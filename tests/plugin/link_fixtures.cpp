#include "link_fixtures.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "plugin/preview_link_client.h"
#include "script/ssa_reader.h"

namespace tessara::link_test {

ChildProcess::ChildProcess(std::vector<std::string> args, std::filesystem::path out,
                           std::filesystem::path err)
    : m_out(std::move(out)), m_err(std::move(err)) {
    m_pid = ::fork();
    if (m_pid == 0) {
        std::freopen(m_out.c_str(), "w", stdout);
        std::freopen(m_err.c_str(), "w", stderr);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

int ChildProcess::wait() {
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ChildProcess::interrupt() {
    ::kill(m_pid, SIGINT);
}

std::string three_subtitles(const std::string& settings) {
    return "[Script Info]\r\nPlayResY: 576\r\n[V4 Styles]\r\n"
           "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
           "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
           "MarginV, AlphaLevel, Encoding\r\n"
           "Style: Default,DejaVu Sans,28,16777215,0,0,0,0,0,1,2,0,2,30,30,30,0,0\r\n"
           "Style: Yellow,DejaVu Sans,28,65535,0,0,0,0,0,1,2,0,2,30,30,30,0,0\r\n"
           "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
           "Effect, Text\r\n"
           "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,TSRACONF: FPSin=25;"
           "FPSout=25;ResX=720;ResY=576;Colors=2;StickyColors=0;" +
           settings +
           "\r\n"
           "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,First\r\n"
           "Dialogue: Marked=0,0:00:03.00,0:00:04.00,Yellow,,0,0,0,,Second\r\n"
           "Dialogue: Marked=0,0:00:05.00,0:00:06.00,Default,,0,0,0,,Third\r\n";
}

BuiltScript::BuiltScript(const std::string& text) {
    script::ReadOptions read;
    EXPECT_TRUE(script::read_script_bytes(script, text, u"in.ssa", read, messages));
    EXPECT_TRUE(script::validate_timing(script.settings.timing, false, &messages, false));
    engine = render::make_system_font_engine();
    fonts = std::make_unique<render::FontCache>(*engine);
    timeline.fill(script, messages);
    EXPECT_TRUE(timeline::build_subpictures(timeline, false));
    context = std::make_unique<timeline::BuildContext>(script, *fonts, messages);
    EXPECT_TRUE(timeline::BuildAll(timeline, *context));
    messages.clear();
}

void BuiltScript::move(int32_t index, int32_t start, int32_t stop) {
    script::FrameTime a = timeline.subtitles()[static_cast<size_t>(index)].start;
    script::FrameTime b = a;
    a.frame = start;
    b.frame = stop;
    int32_t shown = 0;
    EXPECT_TRUE(timeline.retime(index, a, b, script, *context, shown));
}

const timeline::Subpicture* BuiltScript::subpicture_at(int32_t frame) const {
    const auto& sps = timeline.subpictures();
    for (size_t i = 0; i + 1 < sps.size(); ++i) {
        if (sps[i]->start.frame <= frame && frame < sps[i + 1]->start.frame) {
            return sps[i]->members.empty() ? nullptr : sps[i].get();
        }
    }
    return nullptr;
}

void WireClient::start() {
    m_thread = std::thread([this] { run(); });
}

void WireClient::join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void WireClient::run() {
    link::Channel channel;
    int error = 0;
    if (link::connect_to_server(channel, error) != link::ConnectResult::Connected) {
        return;
    }
    connected = true;
    auto forever = [] { return true; };
    for (;;) {
        std::array<uint8_t, link::kHeaderSize> bytes{};
        if (channel.read_exact(bytes, forever, error) != link::IoStatus::Done) {
            return;
        }
        WireMessage m;
        m.header = *link::decode_header(bytes);
        m.first.resize(static_cast<size_t>(std::max(0, m.header.first_length)));
        m.second.resize(static_cast<size_t>(std::max(0, m.header.second_length)));
        if (abort_before_picture &&
            m.header.command == static_cast<int32_t>(link::LinkCommand::AddPicture)) {
            if (channel.read_exact(m.first, forever, error) == link::IoStatus::Done) {
                received.push_back(m);
                channel.write_all(link::encode(link::LinkReply{2, link::kStatusAbort}), forever,
                                  error);
            }
            return;
        }
        if ((!m.first.empty() &&
             channel.read_exact(m.first, forever, error) != link::IoStatus::Done) ||
            (!m.second.empty() &&
             channel.read_exact(m.second, forever, error) != link::IoStatus::Done)) {
            return;
        }
        link::LinkReply reply{link::kLinkVersion, link::kStatusAccepted, m.header.server_thread,
                              m.header.session_id};
        const bool is_info =
            m.header.command == static_cast<int32_t>(link::LinkCommand::SessionInfo);
        if (is_info && m.header.session_id != known_session) {
            reply.status = link::kStatusSendAll;
            known_session = m.header.session_id;
        }
        received.push_back(m);
        std::optional<link::LinkReply> sent = answer ? answer(m, reply) : reply;
        if (!sent) {
            return;  // vanish without answering
        }
        if (channel.write_all(link::encode(*sent), forever, error) != link::IoStatus::Done) {
            return;
        }
        if (m.header.command == static_cast<int32_t>(link::LinkCommand::Close)) {
            return;
        }
    }
}

std::vector<int32_t> commands_of(const std::vector<WireMessage>& messages) {
    std::vector<int32_t> out;
    for (const auto& m : messages) {
        out.push_back(m.header.command);
    }
    return out;
}

void LoadedPlugin::SetUp() {
    ASSERT_TRUE(host.load(TESSARA_PLUGIN_MODULE)) << host.error;
    host.set_messages(&plugin_messages);
    host.set_wait_limit_ms(m_wait_limit_ms);
    host.create(720, 576);
    host.param();
}

void LoadedPlugin::TearDown() {
    host.unload();
    host.set_messages(nullptr);
}

std::vector<std::pair<int32_t, int32_t>> LoadedPlugin::cached() const {
    std::vector<std::pair<int32_t, int32_t>> out;
    const auto& cache =
        static_cast<const plugin::PreviewLinkClient*>(host.instance_pointer())->cache();
    for (int32_t at = cache.first(); at != plugin::PictureCache::kNone; at = cache.entry(at).next) {
        out.emplace_back(cache.entry(at).start, cache.entry(at).last);
    }
    return out;
}

}  // namespace tessara::link_test
