// The filter module the video host loads: one filter that paints the program's subpictures.

#include <new>
#include <string>
#include <string_view>

#include "base/messages.h"
#include "plugin/filter_abi.h"
#include "plugin/message_box.h"
#include "plugin/preview_link_client.h"

#ifdef _WIN32
#define TESSARA_EXPORT extern "C" __declspec(dllexport)
#else
#define TESSARA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace tessara::plugin {

namespace {

constexpr std::string_view kCaption = "Tessara plugin";

// Error boxes with the plug-in's caption; where the system's text follows a message, it comes in
// a second box.
class PluginMessages final : public base::Messages {
  public:
    void inform(std::string_view text) override { show_error_box(kCaption, text); }
    void warn(std::string_view text) override { show_error_box(kCaption, text); }
    void error(std::string_view text) override { show_error_box(kCaption, text); }
    void error_with_system(std::string_view text, int system_error) override {
        show_error_box(kCaption, text);
        show_error_box(kCaption, system_text(system_error));
    }
    base::Answer ask(std::string_view text, base::AskKind kind) override {
        show_error_box(kCaption, text);
        return base::safe_answer(kind);
    }
};

PluginMessages g_default_messages;
base::Messages* g_messages = &g_default_messages;
int64_t g_wait_limit_ms = PreviewLinkClient::kDefaultWaitLimitMs;
abi::FilterDefinition* g_registered = nullptr;

PreviewLinkClient*& client_of(const abi::FilterActivation* fa) {
    return *static_cast<PreviewLinkClient**>(fa->filter_data);
}

int init_proc(abi::FilterActivation* fa, const abi::FilterFunctions*) {
    auto* client = new (std::nothrow) PreviewLinkClient(*g_messages);
    if (client != nullptr) {
        client->set_wait_limit_ms(g_wait_limit_ms);
        client_of(fa) = client;
    }
    return 0;
}

void deinit_proc(abi::FilterActivation* fa, const abi::FilterFunctions*) {
    delete client_of(fa);
    client_of(fa) = nullptr;
}

int32_t param_proc(abi::FilterActivation* fa, const abi::FilterFunctions*) {
    // Painting happens in place: the destination is the source buffer.
    fa->dst->offset = fa->src->offset;
    fa->src->dwFlags = 0;
    return 0;
}

int start_proc(abi::FilterActivation* fa, const abi::FilterFunctions*) {
    PreviewLinkClient* client = client_of(fa);
    if (client == nullptr) {
        g_messages->error(kNotInitializedText);
        return 1;
    }
    if (fa->pfsi == nullptr) {
        return 1;
    }
    FrameFormat frame{fa->dst->w, fa->dst->h, fa->pfsi->lMicrosecsPerFrame};
    return client->start(frame) ? 0 : 1;
}

int run_proc(const abi::FilterActivation* fa, const abi::FilterFunctions*) {
    PreviewLinkClient* client = client_of(fa);
    if (client == nullptr || fa->pfsi == nullptr) {
        return 1;
    }
    const abi::VFBitmap& dst = *fa->dst;
    FrameBuffer buffer{reinterpret_cast<uint8_t*>(dst.data), dst.w, dst.h, dst.pitch};
    client->paint(fa->pfsi->lCurrentSourceFrame, buffer);
    return 0;
}

int end_proc(abi::FilterActivation*, const abi::FilterFunctions*) {
    return 0;
}

abi::FilterDefinition g_definition = {
    nullptr,
    nullptr,
    nullptr,
    "TSRA subtitler 1.0",
    "Adds subtitles from Tessara",
    "Tessara",
    nullptr,
    static_cast<int>(sizeof(PreviewLinkClient*)),
    init_proc,
    deinit_proc,
    run_proc,
    param_proc,
    nullptr,
    nullptr,
    start_proc,
    end_proc,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace tessara::plugin

using namespace tessara::plugin;

TESSARA_EXPORT int VirtualdubFilterModuleInit2(abi::FilterModule* module,
                                               const abi::FilterFunctions* ff, int& version,
                                               int& compatible_version) {
    g_registered = ff->addFilter(module, &g_definition, static_cast<int>(sizeof g_definition));
    version = abi::kFilterInterfaceVersion;
    compatible_version = abi::kFilterCompatibleVersion;
    return 0;
}

TESSARA_EXPORT void VirtualdubFilterModuleDeinit(abi::FilterModule*,
                                                 const abi::FilterFunctions* ff) {
    if (g_registered != nullptr) {
        ff->removeFilter(g_registered);
        g_registered = nullptr;
    }
}

TESSARA_EXPORT int VirtualdubFilterModuleCheckVersion() {
    return abi::kFilterInterfaceVersion;
}

#ifndef _WIN32
// Hooks for a test host: where the plug-in's messages go (null: standard error again), and how
// long one wait for the program may take, for client objects created from then on. The Windows
// module exports the three entry points only.
TESSARA_EXPORT void TessaraPluginSetMessages(tessara::base::Messages* messages) {
    g_messages = messages != nullptr ? messages : &g_default_messages;
}

TESSARA_EXPORT void TessaraPluginSetWaitLimit(int64_t milliseconds) {
    g_wait_limit_ms = milliseconds;
}
#endif
