#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "test_support.h"

namespace tessara::test {
namespace {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the real program with the arguments (already shell-quoted where needed).
RunResult run(const std::string& args) {
    TempDir dir;
    const auto out = dir.file("out.txt");
    const auto err = dir.file("err.txt");
    std::string cmd = std::string("'") + TESSARA_CLI + "' " + args + " >'" + out.string() +
                      "' 2>'" + err.string() + "' </dev/null";
    int raw = std::system(cmd.c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = read_file(out);
    r.err = read_file(err);
    return r;
}

std::string demo() {
    return std::string("'") + TESSARA_SOURCE_DIR + "/samples/demo.ssa'";
}

TEST(Cli, InfoSummarisesTheDemoScript) {
    auto r = run("info " + demo());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Events:              12"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("FPS in:              25"), std::string::npos);
    EXPECT_EQ(r.err, "");  // the demo's settings block is complete: no count warning
}

TEST(Cli, InfoJsonListsSettingsStylesAndEventsWithFrames) {
    auto r = run("info --json " + demo());
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* needle :
         {"\"source\":", "\"unicode\": false", "\"ResY\": 576", "\"BWWrap\": true",
          "\"StyleOrder\": [", "\"name\": \"Sign\"", "\"priority\": 8", "\"start_frame\": 30",
          "\"stop_frame\": 100", "\"blink\": true", "\"text\": \"SAINT-ANNE LIGHTHOUSE\\n1868\""}) {
        EXPECT_NE(r.out.find(needle), std::string::npos) << needle;
    }
}

TEST(Cli, SetChangesASettingAfterLoading) {
    auto r = run("--set ResX=1280 --set FPSin=29.97 info --json " + demo());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"ResX\": 1280"), std::string::npos);
    EXPECT_NE(r.out.find("\"FPSin\": \"29.97\""), std::string::npos);
}

TEST(Cli, BadSetValuesAreUsageErrorsNamingTheKey) {
    auto bad_value = run("--set ResX=20000 info " + demo());
    EXPECT_EQ(bad_value.status, 2);
    EXPECT_NE(bad_value.err.find("ResX"), std::string::npos) << bad_value.err;
    auto unknown = run("--set Frobnicate=1 info " + demo());
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("Frobnicate"), std::string::npos);
    EXPECT_EQ(run("--set ResX info " + demo()).status, 2);
    EXPECT_EQ(run("info").status, 2);
    EXPECT_EQ(run("explode " + demo()).status, 2);
    EXPECT_EQ(run("").status, 2);
}

TEST(Cli, LoadFailuresExitWithOneAndTheMessage) {
    TempDir dir;
    auto missing = run("info '" + dir.file("none.ssa").string() + "'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No such file"), std::string::npos) << missing.err;

    write_file(dir.file("notes.txt"), "just some notes\nnothing here\n");
    auto not_ssa = run("info '" + dir.file("notes.txt").string() + "'");
    EXPECT_EQ(not_ssa.status, 1);
    EXPECT_NE(not_ssa.err.find("error: No styles where found."), std::string::npos);
}

TEST(Cli, HelpDescribesTheCommands) {
    auto r = run("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("info SCRIPT [--json]"), std::string::npos);
    EXPECT_NE(r.out.find("--set KEY=VALUE"), std::string::npos);
}

}  // namespace
}  // namespace tessara::test
