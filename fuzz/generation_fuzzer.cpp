// The whole conversion on an arbitrary script: load, timeline, colours, rendering (measured
// only), placement and the authoring script of whatever ScrType the script names, written to a
// scratch folder. Bitmap files are left out (their writers have a target of their own), so an
// input stays quick; the sanitizers watch everything else.

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "base/messages.h"
#include "base/text.h"
#include "fuzz_support.h"
#include "output/generation.h"
#include "script/script.h"
#include "script/ssa_reader.h"

namespace {

using namespace tessara;
namespace fs = std::filesystem;

const fs::path& scratch_folder() {
    static const fs::path path = [] {
        std::string dir = (fs::temp_directory_path() / "tessara-fuzz-XXXXXX").string();
        FUZZ_CHECK(::mkdtemp(dir.data()) != nullptr);
        static std::string remove_at_exit = dir;
        std::atexit([] { fs::remove_all(remove_at_exit); });
        return fs::path(dir);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    script::Script script;
    base::SilentMessages messages;
    if (!script::read_script_bytes(script, bytes, u"fuzz.ssa", script::ReadOptions{}, messages)) {
        return 0;
    }
    const fs::path& folder = scratch_folder();
    // The outputs go to the scratch folder whatever the script names; a palette to honour would
    // be read from a file the script names, which is not the subject here.
    script.settings.output_file = base::utf8_to_utf16((folder / "film.out").string());
    script.settings.honor_file.clear();

    output::GenerationOptions options;
    options.generate_bitmaps = false;
    options.clock = [] {
        std::tm t{};
        t.tm_year = 126;
        t.tm_mday = 1;
        return t;
    };
    output::GenerationSummary summary;
    if (output::run_generation(script, options, messages, summary)) {
        FUZZ_CHECK(summary.bitmaps == 0);
        FUZZ_CHECK(summary.subpictures >= 0 && summary.skipped >= 0);
        for (const std::string& written : summary.scripts) {
            FUZZ_CHECK(fs::is_regular_file(written));
        }
    }
    for (const auto& entry : fs::directory_iterator(folder)) {
        fs::remove_all(entry.path());
    }
    return 0;
}
