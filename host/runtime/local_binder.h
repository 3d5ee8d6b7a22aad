// The host's binder objects: every binder is local, a handle on an object in this process.
#pragma once

#include <android/binder_ibinder.h>
#include <android/binder_interface_utils.h>

#include <memory>

namespace orvalinquist {
namespace host {

// A binder for `object` of the interface `descriptor`, with one strong reference. It does not
// keep the object alive: its owner does, as a registered service's manager does.
AIBinder* newLocalBinder(std::weak_ptr<::ndk::ICInterface> object, const char* descriptor);

// The object behind `binder` when it is of the interface `descriptor` and still alive.
std::shared_ptr<::ndk::ICInterface> localObject(const AIBinder* binder, const char* descriptor);

}  // namespace host
}  // namespace orvalinquist
