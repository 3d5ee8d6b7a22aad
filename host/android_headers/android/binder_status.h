// Host stand-in for libbinder_ndk's binder_status.h: the status of a binder call.
#pragma once

#include <errno.h>
#include <stdint.h>
#include <sys/cdefs.h>

__BEGIN_DECLS

// Transport-level errors, as the binder driver and libbinder report them.
enum {
    STATUS_OK = 0,
    STATUS_UNKNOWN_ERROR = (-2147483647 - 1),
    STATUS_BAD_VALUE = -EINVAL,
    STATUS_DEAD_OBJECT = -EPIPE,
    STATUS_FAILED_TRANSACTION = (STATUS_UNKNOWN_ERROR + 2),
};
typedef int32_t binder_status_t;

// Exceptions a service reports.
enum {
    EX_NONE = 0,
    EX_ILLEGAL_ARGUMENT = -3,
    EX_ILLEGAL_STATE = -5,
    EX_UNSUPPORTED_OPERATION = -7,
    EX_TRANSACTION_FAILED = -129,
};
typedef int32_t binder_exception_t;

struct AStatus;
typedef struct AStatus AStatus;

__attribute__((warn_unused_result)) AStatus* AStatus_newOk(void);
__attribute__((warn_unused_result)) AStatus* AStatus_fromExceptionCode(binder_exception_t exception);
// A transport error: the exception is EX_TRANSACTION_FAILED.
__attribute__((warn_unused_result)) AStatus* AStatus_fromStatus(binder_status_t status);
bool AStatus_isOk(const AStatus* status);
binder_exception_t AStatus_getExceptionCode(const AStatus* status);
// The transport error when the exception is EX_TRANSACTION_FAILED, else 0.
binder_status_t AStatus_getStatus(const AStatus* status);
void AStatus_delete(AStatus* status);

__END_DECLS
