// The controller session of the entry unit, exposed for in-process tests.
#pragma once

namespace bt {

bool initialize_bluetooth();
bool enable_bluetooth();
bool disable_bluetooth();
[[noreturn]] void signal_handler(int signal_number);

}  // namespace bt
