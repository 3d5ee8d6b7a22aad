// Host stand-in for libbinder_ndk's binder_process.h. Incoming calls, callbacks among them,
// reach a process only once its thread pool runs; on the host, callbacks of the AIDL HAL are
// dropped until then, as they would never be served on a device.
#pragma once

#include <stdint.h>
#include <sys/cdefs.h>

__BEGIN_DECLS

void ABinderProcess_startThreadPool(void);
bool ABinderProcess_isThreadPoolStarted(void);

__END_DECLS
