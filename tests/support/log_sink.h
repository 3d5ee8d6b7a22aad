// A recording stand-in for liblog's __android_log_print, linked into in-process tests.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct LogLine {
    int priority;
    std::string tag;  // empty for a null tag
    std::string text;
};

std::vector<LogLine> logLines();
// Texts of the tool's own lines (null tag), in order.
std::vector<std::string> toolLogTexts();
void clearLog();

}  // namespace testsupport
