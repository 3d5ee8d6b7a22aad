// Debian's StrongPointer.h uses uintptr_t without including <cstdint>; this wrapper
// supplies it once, then hands over to the real header.
#pragma once
#include <cstdint>
#include_next <utils/StrongPointer.h>
