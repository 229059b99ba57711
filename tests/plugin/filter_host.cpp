#include "filter_host.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstring>

namespace tessara::plugin_test {

namespace abi = plugin::abi;

namespace {

// Loading a module as the host's system does: LoadLibrary on Windows, dlopen elsewhere.
#ifdef _WIN32
void* open_module(const std::string& path, std::string& error) {
    HMODULE m = ::LoadLibraryA(path.c_str());
    if (m == nullptr) {
        error = "LoadLibrary failed with error " + std::to_string(::GetLastError());
    }
    return reinterpret_cast<void*>(m);
}
void* find_symbol(void* module, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}
void close_module(void* module) {
    ::FreeLibrary(static_cast<HMODULE>(module));
}
#else
void* open_module(const std::string& path, std::string& error) {
    void* m = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m == nullptr) {
        error = ::dlerror();
    }
    return m;
}
void* find_symbol(void* module, const char* name) {
    return ::dlsym(module, name);
}
void close_module(void* module) {
    ::dlclose(module);
}
#endif

// The host's registry: one module is loaded at a time.
FilterHost* g_host = nullptr;
abi::FilterDefinition* g_registered = nullptr;
int g_registered_size = 0;
abi::FilterDefinition* g_copy = nullptr;
bool g_removed = false;

abi::FilterDefinition* add_filter(abi::FilterModule* module, abi::FilterDefinition* definition,
                                  int size) {
    // The host keeps its own copy of the definition, as long as the size says it is complete.
    if (g_copy == nullptr || size < static_cast<int>(sizeof(abi::FilterDefinition))) {
        return nullptr;
    }
    std::memcpy(g_copy, definition, sizeof(abi::FilterDefinition));
    g_copy->module = module;
    g_registered = g_copy;
    g_registered_size = size;
    return g_copy;
}

void remove_filter(abi::FilterDefinition* definition) {
    if (definition == g_registered) {
        g_removed = true;
    }
}

}  // namespace

FilterHost::~FilterHost() {
    unload();
}

void FilterHost::unload() {
    if (m_created) {
        destroy();
    }
    if (m_module != nullptr) {
        if (m_deinit != nullptr) {
            g_removed = false;
            m_deinit(&m_module_record, &m_functions);
            m_removed = g_removed;
        }
        close_module(m_module);
        m_module = nullptr;
    }
    if (g_host == this) {
        g_host = nullptr;
    }
}

void FilterHost::resize(int32_t width, int32_t height) {
    for (abi::VFBitmap* b : {&m_src, &m_dst}) {
        b->w = width;
        b->h = height;
        b->pitch = width * 4;
        b->size = b->pitch * height;
    }
}

bool FilterHost::load(const std::string& path) {
    m_module = open_module(path, error);
    if (m_module == nullptr) {
        return false;
    }
    auto init =
        reinterpret_cast<int (*)(abi::FilterModule*, const abi::FilterFunctions*, int&, int&)>(
            find_symbol(m_module, abi::kModuleInitName));
    m_deinit =
        reinterpret_cast<abi::ModuleDeinitProc>(find_symbol(m_module, abi::kModuleDeinitName));
    m_check_version = reinterpret_cast<abi::ModuleCheckVersionProc>(
        find_symbol(m_module, abi::kModuleCheckVersionName));
    if (init == nullptr || m_deinit == nullptr || m_check_version == nullptr) {
        error = "the module lacks a filter-module export";
        return false;
    }
    // The record as the host fills it before calling the module.
    m_module_record = abi::FilterModule{};
    m_module_record.module_handle = m_module;
    m_module_record.initProc = reinterpret_cast<void*>(init);
    m_module_record.extendedInitProc = find_symbol(m_module, "FilterModModuleInit");
    m_module_record.deinitProc = reinterpret_cast<void*>(m_deinit);
    m_functions.addFilter = add_filter;
    m_functions.removeFilter = remove_filter;
    g_host = this;
    g_copy = &m_definition;
    g_registered = nullptr;
    if (init(&m_module_record, &m_functions, m_version, m_compatible) != 0 ||
        g_registered == nullptr) {
        error = "the module did not register a filter";
        return false;
    }
    m_definition_size = g_registered_size;
    return true;
}

void FilterHost::set_messages(base::Messages* messages) {
    auto hook = reinterpret_cast<void (*)(base::Messages*)>(
        find_symbol(m_module, "TessaraPluginSetMessages"));
    if (hook != nullptr) {
        hook(messages);
    }
}

void FilterHost::set_wait_limit_ms(int64_t ms) {
    auto hook =
        reinterpret_cast<void (*)(int64_t)>(find_symbol(m_module, "TessaraPluginSetWaitLimit"));
    if (hook != nullptr) {
        hook(ms);
    }
}

int FilterHost::check_version() const {
    return m_check_version();
}

void FilterHost::create(int32_t width, int32_t height) {
    // Instance data is host memory the filter keeps its own state in; the host fills it with
    // garbage-free zeros.
    m_instance_data.assign(static_cast<size_t>(m_definition.inst_data_size), 0);
    for (abi::VFBitmap* b : {&m_src, &m_dst}) {
        *b = abi::VFBitmap{};
        b->depth = 32;
        b->w = width;
        b->h = height;
        b->pitch = width * 4;
        b->size = b->pitch * height;
        b->dwFlags = abi::VFBitmap::kNeedsHdc;
    }
    m_dst.offset = 1234;  // param() must make the destination share the source's
    m_activation = abi::FilterActivation{};
    m_activation.filter = &m_definition;
    m_activation.filter_data = m_instance_data.data();
    m_activation.dst = &m_dst;
    m_activation.src = &m_src;
    m_activation.x2 = static_cast<uint32_t>(width);
    m_activation.y2 = static_cast<uint32_t>(height);
    m_definition.initProc(&m_activation, &m_functions);
    m_created = true;
}

int32_t FilterHost::param() {
    return m_definition.paramProc(&m_activation, &m_functions);
}

int FilterHost::start(int32_t frame_us, bool with_frame_state) {
    m_state = abi::FilterStateInfo{};
    m_state.lMicrosecsPerFrame = frame_us;
    m_state.lMicrosecsPerSrcFrame = frame_us;
    m_activation.pfsi = with_frame_state ? &m_state : nullptr;
    return m_definition.startProc(&m_activation, &m_functions);
}

void FilterHost::bind(HostFrame* image) {
    for (abi::VFBitmap* b : {&m_src, &m_dst}) {
        b->data = image->pixels.data();
    }
}

int FilterHost::run(int32_t frame, HostFrame& image) {
    bind(&image);
    m_state.lCurrentFrame = frame;
    m_state.lCurrentSourceFrame = frame;
    return m_definition.runProc(&m_activation, &m_functions);
}

int FilterHost::end() {
    return m_definition.endProc(&m_activation, &m_functions);
}

void FilterHost::destroy() {
    m_definition.deinitProc(&m_activation, &m_functions);
    m_created = false;
}

void* FilterHost::instance_pointer() const {
    void* p = nullptr;
    if (m_instance_data.size() >= sizeof p) {
        std::memcpy(&p, m_instance_data.data(), sizeof p);
    }
    return p;
}

}  // namespace tessara::plugin_test
