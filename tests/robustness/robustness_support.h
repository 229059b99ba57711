#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "base/messages.h"
#include "base/text.h"
#include "script/script.h"
#include "script/ssa_reader.h"

// Shared by the robustness tests.
namespace tessara::test {

// Two styles, a settings line and three events at 25 fps into 720 x 576, with `settings`
// appended to the settings line ("Key=value;...", by default the count that makes the file
// load without a warning); DejaVu Sans so that rendering does not depend
// on the system's fonts.
inline std::string small_script_text(const std::string& settings = "Expected=6") {
    return "[Script Info]\r\nPlayResY: 576\r\n[V4 Styles]\r\n"
           "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
           "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
           "MarginV, AlphaLevel, Encoding\r\n"
           "Style: Default,DejaVu Sans,24,16777215,0,0,0,0,0,1,2,0,2,30,30,30,0,0\r\n"
           "Style: Sign,DejaVu Sans,20,65535,0,0,0,-1,0,1,2,0,6,30,30,20,0,0\r\n"
           "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
           "Effect, Text\r\n"
           "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,TSRACONF: FPSin=25;"
           "FPSout=25;ResX=720;ResY=576;Colors=2;StickyColors=1;" +
           settings +
           "\r\n"
           "Dialogue: Marked=0,0:00:01.00,0:00:03.00,Default,,0,0,0,,First line\r\n"
           "Dialogue: Marked=0,0:00:02.00,0:00:04.00,Sign,,0,0,0,,SIGN\r\n"
           "Dialogue: Marked=0,0:00:05.00,0:00:06.00,Default,,0,0,0,,Second line\r\n";
}

// Loads `text` as a script read from `source_path`; false when it does not load.
inline bool load_text(script::Script& script, const std::string& text,
                      const std::string& source_path) {
    base::SilentMessages messages;
    return script::read_script_bytes(script, text, base::utf8_to_utf16(source_path),
                                     script::ReadOptions{}, messages);
}

// Runs `body` in a child process and returns what it returned ("" for success); a child that
// crashes or is killed returns a description of that. The child ends with _exit, so nothing
// of the test framework runs twice.
inline std::string in_child(std::string (*body)(void*), void* context) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return "cannot create a pipe";
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        return "cannot fork";
    }
    if (pid == 0) {
        ::close(fds[0]);
        const std::string result = body(context);
        size_t done = 0;
        while (done < result.size()) {
            const ssize_t n = ::write(fds[1], result.data() + done, result.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string result;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) {
        result.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status)) {
        return "the child process ended with signal " + std::to_string(WTERMSIG(status)) + " " +
               result;
    }
    return result;
}

}  // namespace tessara::test
