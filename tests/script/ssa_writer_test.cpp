#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/text.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "script/ssa_writer.h"
#include "test_support.h"

namespace tessara::script {
namespace {

namespace fs = std::filesystem;

// Lines of a file as the reader splits them (LF ends a line, one CR before it is dropped), in
// UTF-16 for a file with the FF FE mark and one character per byte otherwise.
std::vector<std::u16string> file_lines(const std::string& bytes) {
    std::u16string text;
    if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0) {
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
    } else {
        text = base::latin1_to_utf16(bytes);
    }
    std::vector<std::u16string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find(u'\n', start);
        std::u16string line = text.substr(start, nl == std::u16string::npos ? nl : nl - start);
        if (!line.empty() && line.back() == u'\r')
            line.pop_back();
        lines.push_back(line);
        start = nl == std::u16string::npos ? text.size() : nl + 1;
    }
    return lines;
}

bool is_program_line(const std::u16string& line) {
    for (auto kw : {u",TSRACONF: ", u",TSRASTYLE: ", u",TSRAUSER: "}) {
        if (line.rfind(u"Comment: ", 0) == 0 && line.find(kw) != std::u16string::npos) {
            return true;
        }
    }
    return false;
}

std::vector<std::u16string> without_program_lines(std::vector<std::u16string> lines) {
    std::erase_if(lines, is_program_line);
    return lines;
}

// The lines of an 8-bit or UTF-8 file, byte for byte, each with CR LF.
std::string crlf_bytes(const std::vector<std::u16string>& lines) {
    std::string out;
    for (const auto& line : lines) {
        for (char16_t c : line) {
            out += static_cast<char>(c);
        }
        out += "\r\n";
    }
    return out;
}

TEST(SsaWriter, CorpusScriptsComeBackLineForLine) {
    TESSARA_REQUIRE_CORPUS();
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(test::corpus_dir())) {
        const auto path = entry.path();
        if (path.extension() != ".ssa" && path.extension() != ".ass")
            continue;
        Script script;
        base::RecordingMessages messages;
        if (!load_script(script, path.string(), ReadOptions{}, messages))
            continue;
        auto saved = serialize_script(script, messages);
        ASSERT_TRUE(saved) << path;
        const std::string original = test::read_file(path);
        EXPECT_EQ(without_program_lines(file_lines(*saved)), file_lines(original)) << path;
        // Every line ends in CR LF, and a UTF-16 file stays UTF-16.
        EXPECT_EQ(saved->compare(0, 2, "\xFF\xFE") == 0, original.compare(0, 2, "\xFF\xFE") == 0);
        ++checked;
    }
    EXPECT_GE(checked, 7);
}

TEST(SsaWriter, ScriptsWithSettingsComeBackLineForLineInBothEncodings) {
    const std::string demo = test::read_file(std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa");
    std::string utf16 = "\xFF\xFE";
    for (char c : demo) {
        utf16 += c;
        utf16 += '\0';
    }
    for (const std::string& bytes : {demo, utf16}) {
        Script script;
        base::RecordingMessages messages;
        ASSERT_TRUE(read_script_bytes(script, bytes, u"demo.ssa", ReadOptions{}, messages));
        auto saved = serialize_script(script, messages);
        ASSERT_TRUE(saved);
        EXPECT_EQ(without_program_lines(file_lines(*saved)),
                  without_program_lines(file_lines(bytes)));
    }
}

// A style read from hex colours keeps its line as written; only the program's lines are added.
TEST(SsaWriter, HexColourStylesAreSavedAsWritten) {
    const std::string bytes =
        "[Script Info]\r\nScriptType: v4.00\r\n\r\n[V4 Styles]\r\n"
        "Format: Name, Fontname, Fontsize, PrimaryColour, BackColour\r\n"
        "Style: Default,Arial,20,&H0000FFFF,&H00ff0000&\r\n\r\n[Events]\r\n"
        "Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n"
        "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0000,0000,0000,,Hello\r\n";
    Script script;
    base::RecordingMessages messages;
    ASSERT_TRUE(read_script_bytes(script, bytes, u"hex.ssa", ReadOptions{}, messages));
    ASSERT_EQ(script.styles().size(), 1u);
    const auto saved = serialize_script(script, messages);
    ASSERT_TRUE(saved);
    std::string kept;
    for (const auto& line : without_program_lines(file_lines(*saved))) {
        kept += base::utf16_to_utf8(line) + "\r\n";
    }
    EXPECT_EQ(kept, bytes);
}

TEST(SsaWriter, SettingsGoRightAfterTheAnchorAndSurviveASecondRoundTrip) {
    test::TempDir dir;
    const std::string demo = std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa";
    Script first;
    base::RecordingMessages messages;
    ASSERT_TRUE(load_script(first, demo, ReadOptions{}, messages));
    const auto copy = dir.file("copy.ssa").string();
    ASSERT_TRUE(save_script(first, copy, messages));
    EXPECT_EQ(base::utf16_to_utf8(first.settings.source_path), copy);
    EXPECT_TRUE(first.settings.settings_seen);

    const std::string once = test::read_file(copy);
    auto lines = file_lines(once);
    auto anchor = std::find_if(lines.begin(), lines.end(), [](const std::u16string& l) {
        return l.rfind(u"Format: Marked", 0) == 0;
    });
    ASSERT_NE(anchor, lines.end());
    EXPECT_NE(anchor[1].find(u"TSRACONF: "), std::u16string::npos);
    // The TSRAUSER line stands right before the Dialogue line it belongs to.
    auto user = std::find_if(lines.begin(), lines.end(), [](const std::u16string& l) {
        return l.find(u"TSRAUSER: POSX=360;SNAPX=1") != std::u16string::npos;
    });
    ASSERT_NE(user, lines.end());
    EXPECT_EQ(user[0].substr(0, 40), u"Comment: Marked=0,0:00:16.00,0:00:16.50,");
    EXPECT_NE(user[1].find(u"Oh the light"), std::u16string::npos);
    EXPECT_NE(once.find("\r\n"), std::string::npos);
    EXPECT_EQ(once.find("\n"), once.find("\r\n") + 1);

    Script second;
    ASSERT_TRUE(load_script(second, copy, ReadOptions{}, messages));
    EXPECT_TRUE(messages.messages().empty()) << messages.texts().front();
    auto twice = serialize_script(second, messages);
    ASSERT_TRUE(twice);
    EXPECT_EQ(*twice, once);
}

TEST(SsaWriter, UnicodeAndEightBitEncodingsAreKept) {
    const std::string body =
        "[V4 Styles]\r\nStyle: Default,Arial,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n"
        "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
        "Effect, Text\r\n";
    Script unicode;
    base::RecordingMessages messages;
    ASSERT_TRUE(read_script_bytes(
        unicode,
        test::utf16le_with_bom(body + "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,"
                                      "\xE2\x80\x9C\xE6\x97\xA5\xE2\x80\x9D\r\n"),
        u"", ReadOptions{}, messages));
    auto u = serialize_script(unicode, messages);
    ASSERT_TRUE(u);
    EXPECT_EQ(u->substr(0, 2), "\xFF\xFE");
    EXPECT_NE(u->find(std::string("\x1C\x20\xE5\x65\x1D\x20\r\0\n\0", 10)), std::string::npos);

    Script ansi;
    ASSERT_TRUE(read_script_bytes(
        ansi, body + "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,It\x92s\r\n", u"",
        ReadOptions{}, messages));
    auto a = serialize_script(ansi, messages);
    ASSERT_TRUE(a);
    EXPECT_NE(a->find("It\x92s\r\n"), std::string::npos);

    // A character the program put into an 8-bit line is stored with the code page when it can
    // be, and refused (not cut to its low byte) when it cannot.
    ansi.settings.output_file = u"\u201Cfilm\u201D.son";
    a = serialize_script(ansi, messages);
    ASSERT_TRUE(a);
    EXPECT_NE(a->find("OutputFile=\x93"
                      "film\x94.son"),
              std::string::npos);
    ansi.settings.output_file = u"\u65E5.son";
    messages.clear();
    EXPECT_FALSE(serialize_script(ansi, messages));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_NE(messages.texts()[0].find("cannot be stored in an 8-bit script"), std::string::npos);
}

// A UTF-8 script is saved in UTF-8, with the mark when it had one: apart from the program's own
// lines the file comes back byte for byte, and saving it again changes nothing.
TEST(SsaWriter, Utf8ScriptsAreSavedAsReadWithOrWithoutTheMark) {
    const std::string body =
        "[Script Info]\r\nTitle: Tom\xC3\xA9\r\n[V4 Styles]\r\n"
        "Style: Default,Arial,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n"
        "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
        "Effect, Text\r\n"
        "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,Tom\xC3\xA9,0,0,0,,"
        "Tom\xC3\xA9 {\\i1}\xD0\x96\xD1\x83\xD0\xBA\xE2\x80\x9D\\N\xF0\x9F\x8E\xAC\r\n"
        "Dialogue: Marked=0,0:00:03.00,0:00:04.00,Default,,0,0,0,,two\r\n";
    for (const std::string& bytes : {body, "\xEF\xBB\xBF" + body}) {
        SCOPED_TRACE(bytes.size());
        Script first, second;
        base::RecordingMessages messages;
        ASSERT_TRUE(read_script_bytes(first, bytes, u"", ReadOptions{}, messages));
        const auto saved = serialize_script(first, messages);
        ASSERT_TRUE(saved);
        EXPECT_EQ(crlf_bytes(without_program_lines(file_lines(*saved))), bytes);
        ASSERT_TRUE(read_script_bytes(second, *saved, u"", ReadOptions{}, messages));
        EXPECT_EQ(second.settings.unicode_file, first.settings.unicode_file);
        EXPECT_EQ(serialize_script(second, messages), saved);
        EXPECT_TRUE(messages.messages().empty());
    }

    // Text the program puts into the script is stored in UTF-8 too; half a surrogate pair has
    // no UTF-8 form and is refused rather than replaced.
    Script script;
    base::RecordingMessages messages;
    ASSERT_TRUE(read_script_bytes(script, body, u"", ReadOptions{}, messages));
    script.settings.output_file = u"\u65E5.son";
    auto saved = serialize_script(script, messages);
    ASSERT_TRUE(saved);
    EXPECT_NE(saved->find("OutputFile=\xE6\x97\xA5.son"), std::string::npos);
    script.settings.output_file = std::u16string(1, char16_t(0xD800));
    EXPECT_FALSE(serialize_script(script, messages));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_NE(messages.texts()[0].find("cannot be stored in a UTF-8 script"), std::string::npos);
}

// A line's own trailing carriage returns (the last line of a file without a line end, or one of
// several before a line end) are kept through any number of saves, in both encodings.
TEST(SsaWriter, TrailingCarriageReturnsOfALineAreKept) {
    const std::string body =
        "[V4 Styles]\r\nStyle: Default,Arial,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n"
        "[Events]\r\nDialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,one\r\r\r\n"
        "Dialogue: Marked=0,0:00:03.00,0:00:04.00,Default,,0,0,0,,two\r\r";
    for (const std::string& bytes : {body, test::utf16le_with_bom(body), "\xEF\xBB\xBF" + body}) {
        Script first, second;
        base::RecordingMessages messages;
        ASSERT_TRUE(read_script_bytes(first, bytes, u"", ReadOptions{}, messages));
        EXPECT_EQ(first.events().at(1)->plain_text, u"two\r");
        const auto saved = serialize_script(first, messages);
        ASSERT_TRUE(saved && read_script_bytes(second, *saved, u"", ReadOptions{}, messages));
        for (size_t i : {0, 1})
            EXPECT_EQ(second.events().at(i)->plain_text, first.events().at(i)->plain_text);
        EXPECT_EQ(serialize_script(second, messages), saved);
    }
}

TEST(SsaWriter, DeletedLinesAreLeftOutAndAMissingFormatLineStillKeepsTheSettings) {
    const std::string text =
        "[V4 Styles]\r\nStyle: Default,Arial,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n"
        "[Events]\r\n"
        "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,TSRACONF: ResX=640;Expected=1\r\n"
        "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,one\r\n"
        "Dialogue: Marked=0,0:00:03.00,0:00:04.00,Default,,0,0,0,,two\r\n";
    Script script;
    base::RecordingMessages messages;
    ASSERT_TRUE(read_script_bytes(script, text, u"", ReadOptions{}, messages));
    ScriptLine* first = script.events()[0]->line;
    first->kind = LineKind::Deleted;
    first->text.clear();
    auto saved = serialize_script(script, messages);
    ASSERT_TRUE(saved);
    auto lines = file_lines(*saved);
    EXPECT_EQ(lines[2], u"[Events]");
    EXPECT_NE(lines[3].find(u"TSRACONF: "), std::u16string::npos);
    EXPECT_EQ(saved->find("one"), std::string::npos);
    EXPECT_NE(saved->find("two"), std::string::npos);

    Script again;
    ASSERT_TRUE(read_script_bytes(again, *saved, u"", ReadOptions{}, messages));
    EXPECT_EQ(again.settings.res_x, 640);
}

// A save that cannot complete leaves the file as it was and no temporary file behind.
// Style names are read with spaces trimmed but may start or end with a tab (or, after the star,
// a space); the precedence list is read with blanks trimmed. Such names are listed in quotes, a
// name that looks quoted itself gets a second pair, and every other name is listed as before.
TEST(SsaWriter, StyleNamesWithEdgeBlanksKeepTheirPrecedence) {
    std::string text = "[V4 Styles]\r\n";
    for (const char* name : {"\tTab", "* Lead", "Trail\t", "\t", "\"\tQ\"", "\"Plain\"", "Default"})
        text += std::string("Style: ") + name + ",Arial,20,255,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n";
    text +=
        "[Events]\r\nComment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,TSRACONF: "
        "StyleOrder=\"Plain\" , Default\r\n";
    const std::vector<std::u16string> order = {u"\"Plain\"", u"Default", u"\tTab",  u" Lead",
                                               u"Trail\t",   u"\t",      u"\"\tQ\""};
    Script first, second;
    base::RecordingMessages messages;
    ASSERT_TRUE(read_script_bytes(first, text, u"", ReadOptions{}, messages));
    ASSERT_EQ(first.settings.style_order, order);
    const auto saved = serialize_script(first, messages);
    ASSERT_TRUE(saved);
    EXPECT_NE(saved->find("StyleOrder=\"Plain\",Default,\"\tTab\",\" Lead\",\"Trail\t\",\"\t\","
                          "\"\"\tQ\"\";"),
              std::string::npos);
    ASSERT_TRUE(read_script_bytes(second, *saved, u"", ReadOptions{}, messages));
    EXPECT_EQ(second.settings.style_order, order);
    EXPECT_EQ(second.find_style(u"\tTab")->priority, first.find_style(u"\tTab")->priority);
    EXPECT_EQ(serialize_script(second, messages), saved);
}

TEST(SsaWriter, FailedSavesLeaveTheOriginalUntouched) {
    test::TempDir dir;
    const std::string demo = test::read_file(std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa");
    const auto target = dir.file("film.ssa");
    test::write_file(target, demo);
    ::chmod(target.c_str(), 0640);

    // A file-size limit below the script's size, in a child process.
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        Script script;
        base::SilentMessages silent;
        if (!load_script(script, target.string(), ReadOptions{}, silent))
            ::_exit(3);
        rlimit limit{512, 512};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        base::RecordingMessages messages;
        bool ok = save_script(script, std::nullopt, messages);
        bool right_message = messages.texts().size() == 2 &&
                             messages.texts()[0] == "Error writing to " + target.string();
        ::_exit(ok ? 1 : right_message ? 0 : 2);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test::read_file(target), demo);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    // A folder that does not exist, and a folder standing where the file should go.
    Script script;
    base::RecordingMessages messages;
    ASSERT_TRUE(load_script(script, target.string(), ReadOptions{}, messages));
    const auto nowhere = dir.file("missing/film.ssa").string();
    EXPECT_FALSE(save_script(script, nowhere, messages));
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"Error opening " + nowhere,
                                                          base::system_error_text(ENOENT)}));
    fs::create_directory(dir.file("taken.ssa"));
    messages.clear();
    EXPECT_FALSE(save_script(script, dir.file("taken.ssa").string(), messages));
    EXPECT_EQ(messages.texts().at(0), "Error writing to " + dir.file("taken.ssa").string());
    EXPECT_EQ(base::utf16_to_utf8(script.settings.source_path), target.string());

    // A successful save keeps the file's permissions.
    EXPECT_TRUE(save_script(script, std::nullopt, messages));
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
}  // namespace tessara::script
