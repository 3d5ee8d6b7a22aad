// Host stand-in for the HIDL base interface: reference counting only.
#pragma once

#include <utils/RefBase.h>
#include <utils/StrongPointer.h>

namespace android {
namespace hidl {
namespace base {
namespace V1_0 {

struct IBase : virtual public ::android::RefBase {
    virtual bool isRemote() const { return false; }
    virtual ~IBase() = default;
};

}  // namespace V1_0
}  // namespace base
}  // namespace hidl
}  // namespace android
