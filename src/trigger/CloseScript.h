#pragma once

#include <string>
#include <string_view>

namespace tovak::trigger {

// The path as the body of an AppleScript string literal: backslashes doubled first, then each
// double quote preceded by a backslash, so a quote in the path cannot end the literal.
[[nodiscard]] std::string escapeForAppleScriptString(std::string_view path);

// The script that closes the document at this (standardized) path, unsaved, in Microsoft Excel,
// Numbers and TextEdit, touching none of them that is not already running.
[[nodiscard]] std::string closeDocumentScript(std::string_view standardizedPath);

// Everything after the escaped path; it opens with the quote that ends the path's literal.
extern const std::string_view closeDocumentScriptTail;

}  // namespace tovak::trigger
