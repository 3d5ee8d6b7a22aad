// Host stand-in for libbinder_ndk's binder_manager.h. The host's service manager declares the
// AIDL Bluetooth HCI service only when BT_HCI_HAL is "aidl"; its first look-up starts it over
// the transport that BT_HCI_TRANSPORT names. A service that could not start stays down.
#pragma once

#include <android/binder_ibinder.h>
#include <android/binder_status.h>
#include <sys/cdefs.h>

__BEGIN_DECLS

// The running service, with one strong reference for the caller, or null at once.
__attribute__((warn_unused_result)) AIBinder* AServiceManager_checkService(const char* instance);
bool AServiceManager_isDeclared(const char* instance);

__END_DECLS
