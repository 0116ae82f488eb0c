#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "trigger/CloseScript.h"

namespace tovak::trigger {
namespace {

const std::string kHead = "set targetPOSIX to \"";

const std::string kExpectedTail = R"("
tell application "Microsoft Excel"
    if it is running then
        repeat with i from (count of workbooks) to 1 by -1
            try
                set wb to workbook i
                set p to POSIX path of (full name of wb as alias)
                if p is equal to targetPOSIX then close wb saving no
            end try
        end repeat
    end if
end tell
tell application "Numbers"
    if it is running then
        repeat with doc in documents
            try
                set p to POSIX path of (document file of doc as alias)
                if p is equal to targetPOSIX then close doc saving no
            end try
        end repeat
    end if
end tell
tell application "TextEdit"
    if it is running then
        repeat with doc in documents
            try
                set p to path of doc
                if p is equal to targetPOSIX then close doc saving no
            end try
        end repeat
    end if
end tell)";

TEST(CloseScriptText, FixedTextIsExactAndNineHundredFortySevenBytes) {
    EXPECT_EQ(closeDocumentScriptTail.size(), 947u);
    EXPECT_EQ(std::string(closeDocumentScriptTail), kExpectedTail);
    EXPECT_NE(closeDocumentScriptTail.back(), '\n');
    EXPECT_EQ(closeDocumentScriptTail.find('\r'), std::string_view::npos);
    EXPECT_EQ(closeDocumentScriptTail.find('\t'), std::string_view::npos);
}

TEST(CloseScriptText, PlainPathSitsBetweenTheQuotesOfTheFirstLine) {
    const std::string path = "/Users/anna/Documents/Бюджет Q3.xlsx";
    const std::string script = closeDocumentScript(path);
    EXPECT_EQ(kHead.size(), 20u);
    EXPECT_EQ(script, kHead + path + kExpectedTail);
    EXPECT_EQ(script.substr(0, script.find('\n')), "set targetPOSIX to \"" + path + "\"");
}

TEST(CloseScriptEscaping, BackslashesDoubledFirstThenQuotesEscaped) {
    const std::pair<std::string, std::string> cases[] = {
        {"/tmp/a\"b.csv", "/tmp/a\\\"b.csv"},
        {"/tmp/a\\b.csv", "/tmp/a\\\\b.csv"},
        // A backslash before a quote: three backslashes and the quote.
        {"x\\\"y", "x\\\\\\\"y"},
        {"/tmp/-rf $(id) `x` ; | & * 'q' ~ \n\t.csv", "/tmp/-rf $(id) `x` ; | & * 'q' ~ \n\t.csv"},
    };
    for (const auto& [path, escaped] : cases) {
        EXPECT_EQ(escapeForAppleScriptString(path), escaped) << path;
    }
}

TEST(CloseScriptEscaping, PathCannotEndTheLiteralEarly) {
    // A hostile name tries to close the string and append its own statement.
    const std::string path = "/tmp/x\"\ndo shell script \"rm -rf ~\" --\\";
    const std::string script = closeDocumentScript(path);
    const std::string literal = script.substr(kHead.size(), script.size() - kHead.size() - kExpectedTail.size());
    // Inside the literal every quote is escaped by an odd run of backslashes.
    for (std::size_t i = 0; i < literal.size(); ++i) {
        if (literal[i] != '"') {
            continue;
        }
        std::size_t run = 0;
        for (std::size_t j = i; j > 0 && literal[j - 1] == '\\'; --j) {
            ++run;
        }
        EXPECT_EQ(run % 2, 1u) << "quote at " << i << " would end the string";
    }
    // The trailing backslash of the path is doubled, so it does not swallow the closing quote.
    EXPECT_EQ(literal.substr(literal.size() - 2), "\\\\");
    EXPECT_TRUE(script.ends_with(kExpectedTail));
}

}  // namespace
}  // namespace tovak::trigger
