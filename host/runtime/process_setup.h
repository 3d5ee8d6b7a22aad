// What every host program that asks for a HAL needs before its first descriptor or log line.
#pragma once

namespace orvalinquist {
namespace host {

// Holds descriptors 0, 1 and 2 open (on /dev/null where they were closed), makes the log safe
// for a terminal and ignores SIGPIPE, once however often it is called. True when all of that
// took. Either service manager calls it before main, so that every program that can ask for a
// HAL, `help` included, is prepared before it makes a descriptor of its own.
bool prepareProcess();

}  // namespace host
}  // namespace orvalinquist
