#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "base/text.h"
#include "script/settings.h"
#include "test_support.h"

namespace tessara::test {
namespace {

// The settings keys the manual page and the shell completion know, as written in each.
std::set<std::string> keys_matching(const std::string& text, const std::regex& pattern) {
    std::set<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
         it != std::sregex_iterator(); ++it) {
        found.insert((*it)[1]);
    }
    return found;
}

TEST(InstalledFiles, ManualPageAndCompletionKnowEverySettingsKey) {
    const std::string man = read_file(std::string(TESSARA_SOURCE_DIR) + "/docs/tessara.1");
    const std::string completion =
        read_file(std::string(TESSARA_SOURCE_DIR) + "/data/bash-completion/tessara");
    const std::set<std::string> in_man =
        keys_matching(man, std::regex(R"(\n\.B ([A-Za-z0-9]+)\n)"));
    const auto array_start = completion.find("_tessara_setting_keys=(");
    ASSERT_NE(array_start, std::string::npos);
    const std::string array =
        completion.substr(array_start, completion.find(')', array_start) - array_start);
    const std::set<std::string> in_completion =
        keys_matching(array, std::regex(R"(\s([A-Za-z0-9]+))"));

    std::set<std::string> table;
    for (std::u16string_view key : script::setting_keys()) {
        table.insert(base::utf16_to_utf8(key));
    }
    ASSERT_GT(table.size(), 50u);
    for (const std::string& key : table) {
        EXPECT_TRUE(in_man.count(key)) << key << " is missing from the manual page";
    }
    EXPECT_EQ(in_completion, table);
}

}  // namespace
}  // namespace tessara::test
