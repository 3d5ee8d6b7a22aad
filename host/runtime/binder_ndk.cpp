// Host stand-in for libbinder_ndk's runtime: call statuses, binder references and the
// thread pool.
#include <android/binder_process.h>
#include <android/binder_status.h>

#include <atomic>
#include <cstring>

#include "local_binder.h"

struct AStatus {
    binder_exception_t exception;
    binder_status_t status;
};

AStatus* AStatus_newOk() {
    return new AStatus{EX_NONE, STATUS_OK};
}

AStatus* AStatus_fromExceptionCode(binder_exception_t exception) {
    return new AStatus{exception, STATUS_OK};
}

AStatus* AStatus_fromStatus(binder_status_t status) {
    if (status == STATUS_OK) return AStatus_newOk();
    return new AStatus{EX_TRANSACTION_FAILED, status};
}

bool AStatus_isOk(const AStatus* status) {
    return status->exception == EX_NONE;
}

binder_exception_t AStatus_getExceptionCode(const AStatus* status) {
    return status->exception;
}

binder_status_t AStatus_getStatus(const AStatus* status) {
    return status->exception == EX_TRANSACTION_FAILED ? status->status : STATUS_OK;
}

void AStatus_delete(AStatus* status) {
    delete status;
}

struct AIBinder {
    std::atomic<int> strong{1};
    std::weak_ptr<::ndk::ICInterface> object;
    const char* descriptor;
};

void AIBinder_incStrong(AIBinder* binder) {
    binder->strong.fetch_add(1);
}

void AIBinder_decStrong(AIBinder* binder) {
    if (binder->strong.fetch_sub(1) == 1) delete binder;
}

namespace {
std::atomic<bool> threadPoolStarted{false};
}  // namespace

void ABinderProcess_startThreadPool() {
    threadPoolStarted = true;
}

bool ABinderProcess_isThreadPoolStarted() {
    return threadPoolStarted;
}

namespace orvalinquist {
namespace host {

AIBinder* newLocalBinder(std::weak_ptr<::ndk::ICInterface> object, const char* descriptor) {
    AIBinder* binder = new AIBinder();
    binder->object = std::move(object);
    binder->descriptor = descriptor;
    return binder;
}

std::shared_ptr<::ndk::ICInterface> localObject(const AIBinder* binder, const char* descriptor) {
    if (binder == nullptr || std::strcmp(binder->descriptor, descriptor) != 0) return nullptr;
    return binder->object.lock();
}

}  // namespace host
}  // namespace orvalinquist
