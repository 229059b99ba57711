#include "output/verify.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>

#include "base/file_io.h"
#include "base/messages.h"
#include "base/text.h"
#include "formats/script_writer.h"
#include "imaging/bitmap_reader.h"
#include "media/vobsub_reader.h"
#include "output/generation.h"
#include "output/script_reader.h"
#include "output/spumux_check.h"
#include "output/temp_folder.h"
#include "script/script.h"

namespace tessara::output {

namespace fs = std::filesystem;

const char* const kVerifyTempFailedText = "Cannot make a folder for the fresh output";

namespace {

using base::utf16_to_utf8;
using script::ScriptType;

std::string format(const char* pattern, auto... args) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, pattern, args...);
    return buf;
}

std::string area_text(const FrameArea& a) {
    return format("(%d, %d)-(%d, %d)", a.left, a.top, a.right, a.bottom);
}

void replace_all(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty() || from == to) {
        return;
    }
    for (size_t pos = text.find(from); pos != std::string::npos;
         pos = text.find(from, pos + to.size())) {
        text.replace(pos, from.size(), to);
    }
}

std::string extension_of(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string file_name_of(const std::string& path) {
    const size_t sep = path.find_last_of('/');
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

imaging::DecodedImage as_decoded(const media::ArgbImage& image) {
    return {image.width, image.height, image.pixels};
}

struct Frame {
    int32_t width = 0;
    int32_t height = 0;
};

class Verifier {
  public:
    Verifier(const script::ConversionSettings& settings, VerifyReport& report)
        : m_settings(settings),
          m_report(report),
          m_type(settings.scr_type),
          m_palette_size(formats::make_script_writer(settings.scr_type)->palette_size()),
          m_frame{settings.res_x, settings.res_y} {}

    // One written script (`ours`) against the fresh one (`fresh`), with their pictures.
    void compare_script(const std::string& ours_path, const std::string& ours_dir,
                        const std::string& fresh_path, const std::string& fresh_dir,
                        base::Messages& messages);

  private:
    void mismatch(std::string text) { m_report.mismatches.push_back(std::move(text)); }
    // "NAME line N, subpicture K: "
    std::string where(const ScriptEntry& e, size_t index) const {
        return format("%s line %d, subpicture %zu: ", m_name.c_str(), e.line, index + 1);
    }
    void check_structure(const ParsedScript& ours, const std::string& dir);
    void compare_entries(const ParsedScript& ours, const ParsedScript& fresh);
    void compare_other_lines(const ParsedScript& ours, const ParsedScript& fresh);
    void compare_pictures(const ParsedScript& ours, const std::string& ours_dir,
                          const ParsedScript& fresh, const std::string& fresh_dir);
    void compare_vobsub(const std::string& ours_idx, const std::string& fresh_idx);
    // Pixel by pixel; `label` names the picture in the lines.
    void compare_images(const std::string& label, const imaging::DecodedImage& ours,
                        const imaging::DecodedImage& fresh);
    void check_inside_frame(const std::string& where, const FrameArea& area);

    const script::ConversionSettings& m_settings;
    VerifyReport& m_report;
    ScriptType m_type;
    int32_t m_palette_size;
    Frame m_frame;
    std::string m_name;  // of the script being compared
};

void Verifier::check_inside_frame(const std::string& at, const FrameArea& a) {
    if (a.left < 0 || a.top < 0 || a.right > m_frame.width || a.bottom > m_frame.height ||
        a.right <= a.left || a.bottom <= a.top) {
        mismatch(at + format("the area %s is not inside the %d x %d frame", area_text(a).c_str(),
                             m_frame.width, m_frame.height));
    }
}

void Verifier::check_structure(const ParsedScript& ours, const std::string& dir) {
    for (const std::string& problem : ours.problems) {
        mismatch(m_name + " " + problem);
    }
    std::optional<int64_t> previous_end;
    for (size_t i = 0; i < ours.entries.size(); ++i) {
        const ScriptEntry& e = ours.entries[i];
        const std::string at = where(e, i);
        const auto start = time_order_key(e.start);
        const auto end = e.end.empty() ? std::nullopt : time_order_key(e.end);
        if (!start || (!e.end.empty() && !end)) {
            mismatch(at + "cannot read the time \"" + (start ? e.end : e.start) + "\"");
        } else {
            if (end && *end <= *start && m_type != ScriptType::IAU) {
                mismatch(at + "ends at " + e.end + ", not after its start " + e.start);
            }
            if (previous_end && *start < *previous_end) {
                mismatch(at + "starts at " + e.start + ", before the subpicture above ends");
            }
            previous_end = end ? end : start;
        }
        if (!e.file.empty() && !fs::exists(fs::path(dir + e.file))) {
            mismatch(at + e.file + " is missing");
        }
        if (e.area) {
            check_inside_frame(at, *e.area);
        }
        for (int32_t k : e.colour_indices) {
            if (k < 0 || k >= m_palette_size) {
                mismatch(at + format("colour %d is not one of the %d palette entries", k,
                                     m_palette_size));
            }
        }
        for (int32_t k : e.contrasts) {
            if (k < 0 || k > 15) {
                mismatch(at + format("contrast %d is outside 0-15", k));
            }
        }
    }
}

void Verifier::compare_entries(const ParsedScript& ours, const ParsedScript& fresh) {
    if (ours.entries.size() != fresh.entries.size()) {
        mismatch(format("%s: %zu subpictures, expected %zu", m_name.c_str(), ours.entries.size(),
                        fresh.entries.size()));
    }
    const size_t n = std::min(ours.entries.size(), fresh.entries.size());
    for (size_t i = 0; i < n; ++i) {
        const ScriptEntry& a = ours.entries[i];
        const ScriptEntry& b = fresh.entries[i];
        const std::string at = where(a, i);
        if (a.file != b.file) {
            mismatch(at + "names " + a.file + ", expected " + b.file);
        }
        if (a.start != b.start) {
            mismatch(at + "starts at " + a.start + ", expected " + b.start);
        }
        if (a.end != b.end) {
            mismatch(at + "ends at " + a.end + ", expected " + b.end);
        }
        if (a.area != b.area && a.area && b.area) {
            mismatch(at + "covers " + area_text(*a.area) + ", expected " + area_text(*b.area));
        }
        if (a.corner != b.corner && a.corner && b.corner) {
            mismatch(at + format("is placed at (%d, %d), expected (%d, %d)", a.corner->first,
                                 a.corner->second, b.corner->first, b.corner->second));
        }
        if (a.look != b.look) {
            mismatch(at + "colours \"" + a.look + "\", expected \"" + b.look + "\"");
        }
    }
}

void Verifier::compare_other_lines(const ParsedScript& ours, const ParsedScript& fresh) {
    const auto& a = ours.other_lines;
    const auto& b = fresh.other_lines;
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        if (i >= a.size()) {
            mismatch(m_name + ": line \"" + b[i].text + "\" is missing at the end");
        } else if (i >= b.size()) {
            mismatch(format("%s line %d: \"%s\" is not expected", m_name.c_str(), a[i].number,
                            a[i].text.c_str()));
        } else if (a[i].text != b[i].text && !is_dated_line(m_type, a[i].text)) {
            mismatch(format("%s line %d: \"%s\", expected \"%s\"", m_name.c_str(), a[i].number,
                            a[i].text.c_str(), b[i].text.c_str()));
        }
    }
}

void Verifier::compare_images(const std::string& label, const imaging::DecodedImage& ours,
                              const imaging::DecodedImage& fresh) {
    if (ours.width != fresh.width || ours.height != fresh.height) {
        mismatch(format("%s: %d x %d pixels, expected %d x %d", label.c_str(), ours.width,
                        ours.height, fresh.width, fresh.height));
        return;
    }
    size_t differing = 0;
    size_t first = 0;
    for (size_t i = 0; i < ours.pixels.size(); ++i) {
        if (ours.pixels[i] != fresh.pixels[i]) {
            if (differing++ == 0) {
                first = i;
            }
        }
    }
    if (differing > 0) {
        const auto w = static_cast<size_t>(ours.width);
        mismatch(format("%s: %zu pixel%s differ%s, the first at (%zu, %zu): %08X, expected %08X",
                        label.c_str(), differing, differing == 1 ? "" : "s",
                        differing == 1 ? "s" : "", first % w, first / w, ours.pixels[first],
                        fresh.pixels[first]));
    }
}

void Verifier::compare_pictures(const ParsedScript& ours, const std::string& ours_dir,
                                const ParsedScript& fresh, const std::string& fresh_dir) {
    const size_t n = std::min(ours.entries.size(), fresh.entries.size());
    for (size_t i = 0; i < n; ++i) {
        const ScriptEntry& a = ours.entries[i];
        const ScriptEntry& b = fresh.entries[i];
        if (a.file.empty() || !fs::exists(fs::path(ours_dir + a.file))) {
            continue;  // reported with the script
        }
        int read_error = 0;
        const auto bytes = base::read_whole_file(ours_dir + a.file, read_error);
        std::string error;
        const auto mine =
            bytes ? imaging::decode_image(*bytes, extension_of(a.file), error) : std::nullopt;
        if (!mine) {
            mismatch(a.file +
                     ": cannot be read: " + (bytes ? error : base::system_error_text(read_error)));
            continue;
        }
        ++m_report.pictures;
        if (a.corner && m_type == ScriptType::SPU) {
            check_inside_frame(where(a, i), FrameArea{a.corner->first, a.corner->second,
                                                      a.corner->first + mine->width,
                                                      a.corner->second + mine->height});
        }
        // The same bytes decode to the same pixels: the fresh picture is decoded only when the
        // files differ, which is where the mismatch is told pixel by pixel.
        const auto fresh_bytes = base::read_whole_file(fresh_dir + b.file, read_error);
        if (fresh_bytes && *fresh_bytes == *bytes && a.file == b.file) {
            continue;
        }
        const auto expected = fresh_bytes
                                  ? imaging::decode_image(*fresh_bytes, extension_of(b.file), error)
                                  : std::nullopt;
        if (!expected) {
            mismatch(b.file + ": the fresh picture cannot be read: " +
                     (fresh_bytes ? error : base::system_error_text(read_error)));
            continue;
        }
        compare_images(a.file, *mine, *expected);
    }
}

void Verifier::compare_vobsub(const std::string& ours_idx, const std::string& fresh_idx) {
    // Both pairs are read side by side, one picture of each at a time.
    media::VobSubReader mine;
    media::VobSubReader expected;
    std::string error;
    if (!mine.open(ours_idx, error)) {
        mismatch(m_name + ": the VobSub pair cannot be decoded: " + error);
        return;
    }
    if (!expected.open(fresh_idx, error)) {
        mismatch(m_name + ": the fresh VobSub pair cannot be decoded: " + error);
        return;
    }
    size_t count = 0;
    size_t expected_count = 0;
    media::VobSubPicture a;
    media::VobSubPicture b;
    for (;;) {
        const bool have_a = mine.next(a, error);
        if (!have_a && !error.empty()) {
            mismatch(m_name + ": the VobSub pair cannot be decoded: " + error);
            return;
        }
        const bool have_b = expected.next(b, error);
        if (!have_b && !error.empty()) {
            mismatch(m_name + ": the fresh VobSub pair cannot be decoded: " + error);
            return;
        }
        count += have_a ? 1 : 0;
        expected_count += have_b ? 1 : 0;
        if (!have_a || !have_b) {
            while (have_a && mine.next(a, error)) {
                ++count;
            }
            while (have_b && expected.next(b, error)) {
                ++expected_count;
            }
            break;
        }
        const std::string label = format("%s picture %zu", m_name.c_str(), count);
        ++m_report.pictures;
        if (a.start_ms != b.start_ms || a.end_ms != b.end_ms) {
            mismatch(format("%s: shows from %lld to %lld ms, expected %lld to %lld ms",
                            label.c_str(), static_cast<long long>(a.start_ms),
                            static_cast<long long>(a.end_ms), static_cast<long long>(b.start_ms),
                            static_cast<long long>(b.end_ms)));
        }
        if (a.x != b.x || a.y != b.y) {
            mismatch(format("%s: placed at (%d, %d), expected (%d, %d)", label.c_str(), a.x, a.y,
                            b.x, b.y));
        }
        check_inside_frame(label + ": ",
                           FrameArea{a.x, a.y, a.x + a.image.width, a.y + a.image.height});
        compare_images(label, as_decoded(a.image), as_decoded(b.image));
    }
    if (count != expected_count) {
        mismatch(
            format("%s: %zu pictures decode, expected %zu", m_name.c_str(), count, expected_count));
    }
}

void Verifier::compare_script(const std::string& ours_path, const std::string& ours_dir,
                              const std::string& fresh_path, const std::string& fresh_dir,
                              base::Messages& messages) {
    m_name = file_name_of(ours_path);
    int error = 0;
    const auto fresh_text = base::read_whole_file(fresh_path, error);
    if (!fresh_text) {
        messages.file_error(fresh_path, "", error);
        return;
    }
    const auto ours_text = base::read_whole_file(ours_path, error);
    if (!ours_text) {
        mismatch(m_name + ": cannot be read: " + base::system_error_text(error));
        return;
    }
    ++m_report.scripts;
    // The fresh run wrote into its own folder, which scripts that name their folder show.
    std::string expected_text = *fresh_text;
    replace_all(expected_text, fresh_dir, ours_dir);
    const ParsedScript ours = parse_authoring_script(m_type, *ours_text);
    const ParsedScript fresh = parse_authoring_script(m_type, expected_text);
    m_report.subpictures += static_cast<int32_t>(ours.entries.size());
    check_structure(ours, ours_dir);
    compare_entries(ours, fresh);
    compare_other_lines(ours, fresh);
    if (m_type == ScriptType::VOBSUB) {
        compare_vobsub(ours_path, fresh_path);
    } else {
        compare_pictures(ours, ours_dir, fresh, fresh_dir);
    }
}

}  // namespace

std::string VerifyReport::summary() const {
    std::string text = format("%d script%s, %d subpicture%s, %d picture%s checked: ", scripts,
                              scripts == 1 ? "" : "s", subpictures, subpictures == 1 ? "" : "s",
                              pictures, pictures == 1 ? "" : "s");
    if (mismatches.empty()) {
        return text + "all match";
    }
    return text + format("%zu mismatch%s", mismatches.size(), mismatches.size() == 1 ? "" : "es");
}

bool verify_output(script::Script& script, const VerifyOptions& options, base::Messages& messages,
                   VerifyReport& report) {
    report = VerifyReport();
    TempFolder temp;
    if (!temp.make("tessara-verify")) {
        messages.error(kVerifyTempFailedText);
        return false;
    }
    const std::u16string written = script.settings.output_file;
    const OutputNames names = derive_output_names(written);
    const std::string ours_dir = utf16_to_utf8(names.directory);
    script.settings.output_file = base::utf8_to_utf16(temp.path()) + names.title + names.extension;
    GenerationOptions run;
    run.progress = options.progress;
    GenerationSummary summary;
    // What the run warns about (cut subtitles, skipped subpictures) was said when the output
    // was written; only a failure matters here.
    base::RecordingMessages said;
    const bool ok = run_generation(script, run, said, summary);
    script.settings.output_file = written;
    if (!ok) {
        for (const auto& m : said.messages()) {
            if (m.kind == base::MessageKind::Error) {
                messages.error(m.text);
            }
        }
        return false;
    }
    Verifier verifier(script.settings, report);
    for (const std::string& fresh : summary.scripts) {
        const std::string name = fresh.substr(temp.path().size());
        verifier.compare_script(ours_dir + name, ours_dir, fresh, temp.path(), messages);
    }
    if (!summary.palette_file.empty()) {
        // The palette file holds the palette entries the colour lines name.
        const std::string name = summary.palette_file.substr(temp.path().size());
        int error = 0;
        const auto mine = base::read_whole_file(ours_dir + name, error);
        const auto expected = base::read_whole_file(summary.palette_file, error);
        if (!mine) {
            report.mismatches.push_back(name + " is missing");
        } else if (expected && *mine != *expected) {
            report.mismatches.push_back(name + ": the palette differs from the fresh run's");
        }
    }
    if (script.settings.scr_type == ScriptType::SPU) {
        if (options.mux) {
            for (const std::string& fresh : summary.scripts) {
                check_with_spumux(ours_dir + fresh.substr(temp.path().size()), script.settings,
                                  report);
            }
        } else {
            report.notes.push_back("the spumux round trip was not run (it takes --mux)");
        }
    }
    return report.scripts > 0 || summary.scripts.empty();
}

}  // namespace tessara::output
