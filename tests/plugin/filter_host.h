#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/filter_abi.h"

namespace tessara::base {
class Messages;
}

// A stand-in for the video host: loads a filter module with dlopen, registers its filter through
// a filter-function table and drives one filter instance the way the host does (init, param,
// start, run per frame, end, deinit) over 32-bit bottom-up frames.
namespace tessara::plugin_test {

// A 32-bit frame as the host holds it: rows bottom-up, blue in the low byte.
struct HostFrame {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;

    HostFrame(int32_t w, int32_t h, uint32_t fill)
        : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}
    // The pixel at column x of row y counted from the top.
    uint32_t& at(int32_t x, int32_t y) {
        return pixels[static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width) +
                      static_cast<size_t>(x)];
    }
};

class FilterHost {
  public:
    FilterHost() = default;
    FilterHost(const FilterHost&) = delete;
    FilterHost& operator=(const FilterHost&) = delete;
    ~FilterHost();

    // Loads the module and registers its filter; false with `error` set when that fails.
    bool load(const std::string& path);
    // Where the module's messages go (the module's own test hook), and its wait limit.
    void set_messages(base::Messages* messages);
    void set_wait_limit_ms(int64_t ms);

    const plugin::abi::FilterDefinition& definition() const { return m_definition; }
    int interface_version() const { return m_version; }
    int compatible_version() const { return m_compatible; }
    int registered_definition_size() const { return m_definition_size; }
    bool removed() const { return m_removed; }
    int check_version() const;

    // A filter instance filtering width x height frames.
    void create(int32_t width, int32_t height);
    int32_t param();
    // Starts filtering at the host's frame duration (microseconds); the filter's 0 or 1.
    // Without frame state the host has none to give (before playback is set up).
    int start(int32_t frame_us, bool with_frame_state = true);
    // Runs the filter over the frame for source frame `frame`.
    int run(int32_t frame, HostFrame& image);
    int end();
    void destroy();
    // The client object pointer the filter keeps in its instance data.
    void* instance_pointer() const;
    // The bitmaps the filter sees; resize() changes the frame size of the running instance.
    const plugin::abi::VFBitmap& src() const { return m_src; }
    const plugin::abi::VFBitmap& dst() const { return m_dst; }
    void resize(int32_t width, int32_t height);
    // Removes the filter (the module's deinit export) and unloads the module.
    void unload();

    std::string error;

  private:
    void bind(HostFrame* image);

    void* m_module = nullptr;
    plugin::abi::ModuleDeinitProc m_deinit = nullptr;
    plugin::abi::ModuleCheckVersionProc m_check_version = nullptr;
    plugin::abi::FilterModule m_module_record{};
    plugin::abi::FilterFunctions m_functions{};
    plugin::abi::FilterDefinition m_definition{};
    int m_definition_size = 0;
    int m_version = 0;
    int m_compatible = 0;
    bool m_removed = false;
    bool m_created = false;

    std::vector<unsigned char> m_instance_data;
    plugin::abi::VFBitmap m_src{};
    plugin::abi::VFBitmap m_dst{};
    plugin::abi::FilterStateInfo m_state{};
    plugin::abi::FilterActivation m_activation{};
};

}  // namespace tessara::plugin_test
