// What every host program that asks for a HAL needs before its first descriptor or log line.
#pragma once

#include <string>

namespace orvalinquist {
namespace host {

// Holds descriptors 0, 1 and 2 open (on /dev/null where they were closed), makes the log safe
// for a terminal and ignores SIGPIPE. True when all of that took.
bool prepareProcess();

// `message` with every byte 0x00-0x1f and 0x7f written as \xNN; other bytes, UTF-8 included,
// unchanged.
std::string escapeControlBytes(const char* message);

}  // namespace host
}  // namespace orvalinquist
