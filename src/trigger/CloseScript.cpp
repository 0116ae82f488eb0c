#include "trigger/CloseScript.h"

namespace tovak::trigger {

const std::string_view closeDocumentScriptTail =
    "\"\n"
    "tell application \"Microsoft Excel\"\n"
    "    if it is running then\n"
    "        repeat with i from (count of workbooks) to 1 by -1\n"
    "            try\n"
    "                set wb to workbook i\n"
    "                set p to POSIX path of (full name of wb as alias)\n"
    "                if p is equal to targetPOSIX then close wb saving no\n"
    "            end try\n"
    "        end repeat\n"
    "    end if\n"
    "end tell\n"
    "tell application \"Numbers\"\n"
    "    if it is running then\n"
    "        repeat with doc in documents\n"
    "            try\n"
    "                set p to POSIX path of (document file of doc as alias)\n"
    "                if p is equal to targetPOSIX then close doc saving no\n"
    "            end try\n"
    "        end repeat\n"
    "    end if\n"
    "end tell\n"
    "tell application \"TextEdit\"\n"
    "    if it is running then\n"
    "        repeat with doc in documents\n"
    "            try\n"
    "                set p to path of doc\n"
    "                if p is equal to targetPOSIX then close doc saving no\n"
    "            end try\n"
    "        end repeat\n"
    "    end if\n"
    "end tell";

std::string escapeForAppleScriptString(std::string_view path) {
    std::string backslashesDoubled;
    backslashesDoubled.reserve(path.size());
    for (char c : path) {
        if (c == '\\') {
            backslashesDoubled += '\\';
        }
        backslashesDoubled += c;
    }
    std::string escaped;
    escaped.reserve(backslashesDoubled.size());
    for (char c : backslashesDoubled) {
        if (c == '"') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

std::string closeDocumentScript(std::string_view standardizedPath) {
    std::string script = "set targetPOSIX to \"";
    script += escapeForAppleScriptString(standardizedPath);
    script += closeDocumentScriptTail;
    return script;
}

}  // namespace tovak::trigger
