#pragma once

#include <cstddef>
#include <cstdint>

// The video host's filter-module interface as its published filter SDK defines it (interface
// version 7): the records the host passes to a filter and the entry points a filter module
// exports. Only the fields are declared, in the host's order and with its types: its 32-bit
// integers are fixed-width here, its byte distances pointer-sized (ptrdiff_t). Records that hold
// pointers grow with the pointer size on 64-bit builds, which is why sizes are always passed as
// sizeof and never as the 32-bit numbers.
namespace tessara::plugin::abi {

struct FilterDefinition;
struct FilterActivation;
struct FilterFunctions;
struct FilterModule;

// The host's bitmap: a first word for the host's own method table, then the pixel description.
// Rows are stored bottom-up; pitch is the byte distance between rows.
struct VBitmap {
    const void* host_methods;  // the host's method table; never used by a filter
    uint32_t* data;
    uint32_t* palette;
    int32_t depth;
    int32_t w;
    int32_t h;
    ptrdiff_t pitch;
    ptrdiff_t modulo;
    ptrdiff_t size;
    ptrdiff_t offset;
};

// A bitmap as the host hands it to a filter.
struct VFBitmap : VBitmap {
    static constexpr uint32_t kNeedsHdc = 0x00000001;
    uint32_t dwFlags;
    void* hdc;
};
// The byte distances follow the depth and the two sizes, aligned to a pointer; the flags and the
// display context follow the four distances.
static_assert(offsetof(VBitmap, pitch) == (sizeof(void*) == 8 ? 40 : 24));
static_assert(sizeof(VBitmap) == (sizeof(void*) == 8 ? 72 : 40));
static_assert(sizeof(VFBitmap) == (sizeof(void*) == 8 ? 88 : 48));

// The state of the frame being filtered.
struct FilterStateInfo {
    int32_t lCurrentFrame;          // output frame
    int32_t lMicrosecsPerFrame;     // microseconds per output frame
    int32_t lCurrentSourceFrame;    // source frame
    int32_t lMicrosecsPerSrcFrame;  // microseconds per source frame
    int32_t lSourceFrameMS;         // source frame time stamp
    int32_t lDestFrameMS;           // output frame time stamp
};

using FilterInitProc = int (*)(FilterActivation* fa, const FilterFunctions* ff);
using FilterDeinitProc = void (*)(FilterActivation* fa, const FilterFunctions* ff);
using FilterRunProc = int (*)(const FilterActivation* fa, const FilterFunctions* ff);
using FilterParamProc = int32_t (*)(FilterActivation* fa, const FilterFunctions* ff);
using FilterConfigProc = int (*)(FilterActivation* fa, const FilterFunctions* ff, void* window);
using FilterStringProc = void (*)(const FilterActivation* fa, const FilterFunctions* ff,
                                  char* buffer);
using FilterStartProc = int (*)(FilterActivation* fa, const FilterFunctions* ff);
using FilterEndProc = int (*)(FilterActivation* fa, const FilterFunctions* ff);
using FilterScriptStrProc = bool (*)(FilterActivation* fa, const FilterFunctions* ff, char* buffer,
                                     int size);

// The module record the host keeps for every loaded filter module. A filter only passes it back
// to the host; the host fills it from the module's exports, the entry of its extended module
// interface included (none here: this module does not export one).
struct FilterModule {
    FilterModule* next;
    FilterModule* prev;
    void* module_handle;
    void* initProc;
    void* extendedInitProc;
    void* deinitProc;
};
static_assert(sizeof(FilterModule) == 6 * sizeof(void*));

// One filter a module offers (the version-7 layout: 72 bytes on 32-bit builds).
struct FilterDefinition {
    FilterDefinition* next;
    FilterDefinition* prev;
    FilterModule* module;
    const char* name;
    const char* desc;
    const char* maker;
    void* private_data;
    int inst_data_size;  // bytes of instance data the host allocates per filter instance
    FilterInitProc initProc;
    FilterDeinitProc deinitProc;
    FilterRunProc runProc;
    FilterParamProc paramProc;
    FilterConfigProc configProc;
    FilterStringProc stringProc;
    FilterStartProc startProc;
    FilterEndProc endProc;
    void* script_obj;
    FilterScriptStrProc fssProc;
};
static_assert(sizeof(FilterDefinition) == 18 * sizeof(void*),
              "the definition is 18 pointer-sized fields: 72 bytes on 32-bit builds");

// What the host passes to every filter callback. The host declares dst and src as references,
// which are laid out as pointers.
struct FilterActivation {
    FilterDefinition* filter;
    void* filter_data;  // inst_data_size bytes owned by the host
    VFBitmap* dst;
    VFBitmap* src;
    VFBitmap* reserved0;
    VFBitmap* last;
    uint32_t x1, y1, x2, y2;
    FilterStateInfo* pfsi;  // none outside filtering
    void* ifp;
};

// The host's services. Only the first two are used: registering and removing a filter.
struct FilterFunctions {
    FilterDefinition* (*addFilter)(FilterModule* module, FilterDefinition* definition,
                                   int definition_size);
    void (*removeFilter)(FilterDefinition* definition);
    bool (*isFPUEnabled)();
    bool (*isMMXEnabled)();
    void (*InitVTables)(void* tables);
    void (*ExceptOutOfMemory)();
    void (*Except)(const char* format, ...);
    int32_t (*getCPUFlags)();
    int32_t (*getHostVersionInfo)(char* buffer, int size);
};

inline constexpr int kFilterInterfaceVersion = 7;
inline constexpr int kFilterCompatibleVersion = 4;

// The three entry points a filter module exports.
using ModuleInitProc = int (*)(FilterModule* module, const FilterFunctions* ff, int& version,
                               int& compatible_version);
using ModuleDeinitProc = void (*)(FilterModule* module, const FilterFunctions* ff);
using ModuleCheckVersionProc = int (*)();

inline constexpr const char* kModuleInitName = "VirtualdubFilterModuleInit2";
inline constexpr const char* kModuleDeinitName = "VirtualdubFilterModuleDeinit";
inline constexpr const char* kModuleCheckVersionName = "VirtualdubFilterModuleCheckVersion";

}  // namespace tessara::plugin::abi
