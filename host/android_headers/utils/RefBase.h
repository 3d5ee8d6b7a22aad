// RefBase.h includes StrongPointer.h; going through here keeps the <cstdint> fix in force.
#pragma once
#include <cstdint>
#include_next <utils/RefBase.h>
