#include <iostream>
#include <string>
#include <vector>

#include "base/preferences.h"
#include "base/text.h"
#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "script/script.h"
#include "script/settings.h"
#include "script/settings_file.h"
#include "script/ssa_reader.h"

namespace tessara::cli {

namespace {

constexpr const char* kUsage =
    R"(usage: tessara COMMAND [options]

Tessara turns SSA (Sub Station Alpha V4) subtitle scripts into DVD subpictures.

Commands:
  info SCRIPT [--json]   summary of the script and its conversion settings;
                         --json lists settings, styles and events (with frames)
  generate SCRIPT [-o OUTPUT] [--no-bitmaps]
                         convert: the authoring script of the ScrType setting
                         (SON, SST, IAU, SMX, IMG, USF, SCR; change it with
                         --set ScrType=SST) and one bitmap per subpicture beside
                         it; OUTPUT defaults to the OutputFile setting
  save SCRIPT [-o OUT]   write the script back (in place unless -o is given), with
                         its settings block regenerated; the file is replaced only
                         once the new one is completely written
  tool snap SCRIPT [--fps RATE] [-o OUT]
                         move every dialogue time to the start of its frame
                         (RATE defaults to the script's input frame rate)
  tool quotes SCRIPT [-o OUT]
                         straight double quotes to typographic ones
  tool unicode SCRIPT [-o OUT]
                         convert an 8-bit script to Unicode (saved as UTF-16)
  Tools that ask for confirmation do nothing without --yes.
  tool separate SCRIPT [-o OUT]
                         end every subtitle one frame before the next one starts
                         where they would otherwise touch
  timeline SCRIPT [--json]
                         the subpictures: times, colours and where each subtitle
                         is drawn (event index, x, y, width, height)
  render SCRIPT --event N -o OUT.png [--scale K]
                         draw event N (numbered from 0) as it would look shown
                         alone, in its colours over the BackColor setting, as a
                         PNG; --scale enlarges it K times (1-16)
  render SCRIPT (--subpicture N | --at HH:MM:SS:FF) -o OUT.png [--scale K]
                         draw subpicture N (numbered from 1), or the one shown at
                         that time, at full output size over BackColor
  export srt|captions|dialogue|film|chi SCRIPT -o OUT [--film-offset HH:MM:SS:FF]
                         plain-text lists of the subtitles: SubRip, Captions Inc.,
                         a text dialogue list with SMPTE times, the same with film
                         feet and frames counted from the film offset (default
                         01:00:00:00; non-drop 24 or 30 fps output only), or Chi
  check-segments SCRIPT [--distance N]
                         list the subtitles the DVD segments and chapter points
                         would cut, each widened by N frames (0-99, default 0)

  feed SCRIPT [--offset HH:MM:SS:FF] [--dont-check-fr] [--watch]
                         hand every subpicture to the video-filter plug-in: waits
                         for the plug-in to connect (start the preview with the
                         filter), then sends all pictures the first time and only
                         the changed ones after that; --offset is the timecode of
                         the video's first frame (default: the VDubOffset setting),
                         --dont-check-fr skips the frame-rate match, --watch stays
                         running and feeds again whenever SCRIPT changes on disk;
                         Ctrl-C cancels

SCRIPT may also be an old ".tsraconf" settings file: its settings are read first,
then the script it names.

Global options:
  --set KEY=VALUE   change a conversion setting after loading (any settings key,
                    checked like a settings line in the script; repeatable)
  --yes             confirm every question
  --quiet           no progress bar
  -h, --help        this text
  --version         the program's version

Exit status: 0 success, 1 the operation failed (its message was printed),
2 usage error.
)";

}  // namespace

bool open_for_command(const std::string& path, const GlobalOptions& options, script::Script& script,
                      CliMessages& messages) {
    base::IniFilePreferences prefs(base::IniFilePreferences::default_path());
    script::ReadOptions read;
    read.preferences = &prefs;
    if (!script::open_document(script, path, read, messages)) {
        return false;
    }
    for (const auto& [key, value] : options.sets) {
        // Already checked against the table before loading; a value can still depend on
        // the loaded settings (none do today), so the result is checked again.
        if (!script::apply_setting(script.settings, base::utf8_to_utf16(key),
                                   base::utf8_to_utf16(value))) {
            throw UsageError{"invalid value for setting " + key + ": " + value};
        }
        script.settings.modified = true;
    }
    return true;
}

namespace {

int dispatch(std::vector<std::string> args) {
    GlobalOptions options;
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            return kExitOk;
        }
        if (a == "--version") {
            std::cout << "tessara 0.1.0\n";
            return kExitOk;
        }
        if (a == "--yes") {
            options.yes = true;
        } else if (a == "--quiet") {
            options.quiet = true;
        } else if (a == "--set" || a.rfind("--set=", 0) == 0) {
            std::string kv;
            if (a == "--set") {
                if (i + 1 >= args.size())
                    throw UsageError{"--set needs KEY=VALUE"};
                kv = args[++i];
            } else {
                kv = a.substr(6);
            }
            size_t eq = kv.find('=');
            if (eq == std::string::npos || eq == 0) {
                throw UsageError{"--set needs KEY=VALUE, got '" + kv + "'"};
            }
            std::string key = kv.substr(0, eq);
            std::string value = kv.substr(eq + 1);
            if (!script::is_setting_key(base::utf8_to_utf16(key))) {
                throw UsageError{"unknown setting " + key};
            }
            script::ConversionSettings scratch;
            if (!script::apply_setting(scratch, base::utf8_to_utf16(key),
                                       base::utf8_to_utf16(value))) {
                throw UsageError{"invalid value for setting " + key + ": " + value};
            }
            options.sets.emplace_back(key, value);
        } else {
            rest.push_back(a);
        }
    }
    if (rest.empty()) {
        throw UsageError{"no command given"};
    }
    const std::string command = rest.front();
    rest.erase(rest.begin());
    if (command == "info") {
        return run_info(rest, options);
    }
    if (command == "save") {
        return run_save(rest, options);
    }
    if (command == "tool") {
        return run_tool(rest, options);
    }
    if (command == "render") {
        return run_render(rest, options);
    }
    if (command == "timeline") {
        return run_timeline(rest, options);
    }
    if (command == "feed") {
        return run_feed(rest, options);
    }
    if (command == "generate") {
        return run_generate(rest, options);
    }
    if (command == "export") {
        return run_export(rest, options);
    }
    if (command == "check-segments") {
        return run_check_segments(rest, options);
    }
    throw UsageError{"unknown command '" + command + "'"};
}

}  // namespace

}  // namespace tessara::cli

int main(int argc, char** argv) {
    using namespace tessara::cli;
    try {
        return dispatch(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::cerr << "tessara: " << e.text << "\n(run 'tessara --help' for usage)\n";
        return kExitUsage;
    }
}
