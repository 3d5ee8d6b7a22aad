#include "log_sink.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace testsupport {
namespace {

struct LogLine {
    int priority;
    std::string tag;  // empty for a null tag
    std::string text;
};

struct Sink {
    std::mutex mutex;
    std::vector<LogLine> lines;
};

Sink& sink() {
    static Sink* instance = new Sink();  // never destroyed: threads may log during exit
    return *instance;
}

}  // namespace

std::vector<std::string> logTexts(const std::string& tag, bool levels) {
    std::lock_guard<std::mutex> lock(sink().mutex);
    std::vector<std::string> texts;
    for (const LogLine& line : sink().lines) {
        const char* level = line.priority == 6 ? "E " : line.priority == 5 ? "W " : "I ";
        if (line.tag == tag) texts.push_back((levels ? level : "") + line.text);
    }
    return texts;
}

void clearLog() {
    std::lock_guard<std::mutex> lock(sink().mutex);
    sink().lines.clear();
}

}  // namespace testsupport

extern "C" int __android_log_print(int priority, const char* tag, const char* format, ...) {
    va_list args, copy;
    va_start(args, format);
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(testsupport::sink().mutex);
    testsupport::sink().lines.push_back({priority, tag ? tag : "", std::move(text)});
    return size;
}
