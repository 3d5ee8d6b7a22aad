// A recording stand-in for liblog's __android_log_print, linked into in-process tests.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// Texts of the lines logged with `tag` (empty: the tool's own, with a null tag), in order; with
// `levels`, each after "E ", "W " or "I " for its priority.
std::vector<std::string> logTexts(const std::string& tag = "", bool levels = false);
void clearLog();

}  // namespace testsupport
