// The result codes and disconnect reasons as users read them: the tables of
// docs/guide.md, the texts the programs print, and the numbers the API
// returns and reports must be one list.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "api/md_api.h"
#include "tools/common/reason_text.h"

namespace {

struct Row {
    int code;
    std::string name, meaning;
};

// The rows of the table under the heading, "| code | name | meaning |"; a
// code cell may add its hexadecimal form in brackets.
std::vector<Row> doc_table(const std::string& heading) {
    std::ifstream in(XELMD_SOURCE_DIR "/docs/guide.md");
    std::vector<Row> rows;
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("## ", 0) == 0) inside = line == "## " + heading;
        if (!inside || line.rfind("| ", 0) != 0 || line.find("---") != std::string::npos) continue;
        std::vector<std::string> cells;
        for (size_t at = 1, bar; (bar = line.find(" |", at)) != std::string::npos; at = bar + 2)
            cells.push_back(line.substr(at + 1, bar - at - 1));
        if (cells.size() != 3 || cells[0] == "code" || cells[0] == "reason") continue;
        rows.push_back({std::stoi(cells[0]), cells[1], cells[2]});
    }
    return rows;
}

// Backquotes around names are the document's typography only.
std::string plain(std::string s) {
    for (size_t at; (at = s.find('`')) != std::string::npos;) s.erase(at, 1);
    return s;
}

TEST(Codes, GuideTablesAreTheProgramsTexts) {
    std::vector<Row> results = doc_table("Result codes"), reasons = doc_table("Disconnect reasons");
    ASSERT_EQ(results.size(), 16u);
    ASSERT_EQ(reasons.size(), 11u);
    for (const Row& r : results) {
        const ToolCommon::CodeText* t = ToolCommon::find_result(r.code);
        ASSERT_NE(t, nullptr) << r.code;
        EXPECT_EQ(plain(r.name), t->name);
        EXPECT_EQ(plain(r.meaning), t->meaning);
    }
    for (const Row& r : reasons) {
        const ToolCommon::CodeText* t = ToolCommon::find_reason(r.code);
        ASSERT_NE(t, nullptr) << r.code;
        EXPECT_EQ(plain(r.name), t->name);
        EXPECT_EQ(plain(r.meaning), t->meaning);
    }
}

TEST(Codes, EveryCodeTheApiGivesHasAName) {
    using A = Api::MdApi;
    for (int code : {A::ERR_LOG_OPEN, A::ERR_ALREADY_INITED, A::ERR_TABLE_FULL, A::ERR_NOT_INITED,
                     A::ERR_AFTER_INIT, A::ERR_NOT_LOGGED_IN, A::ERR_LOGGED_IN,
                     A::ERR_BLANK_PRODUCT, A::ERR_NOT_CONNECTED, A::ERR_RELEASED,
                     A::ERR_ON_NETWORK_THREAD, A::ERR_NOT_AVAILABLE, int(A::ERR_UNANSWERED),
                     int(A::ERR_RATE), int(A::ERR_OTHER_PARTICIPANT), int(A::ERR_OTHER_USER)})
        EXPECT_NE(ToolCommon::find_result(code), nullptr) << code;
    // Every close reason a connection can end with maps to a named number.
    for (int reason = -25; reason <= -11; ++reason) {
        int reported = A::map_disconnect_reason(reason);
        if (reported == reason && reason != -15) continue;  // not a close reason of ours
        EXPECT_NE(ToolCommon::find_reason(reported), nullptr) << reason;
    }
}

}  // namespace
