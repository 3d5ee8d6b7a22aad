// Host stand-in for libbinder_ndk's binder_ibinder.h: the reference-counted binder object.
#pragma once

#include <android/binder_status.h>
#include <stdint.h>
#include <sys/cdefs.h>

__BEGIN_DECLS

typedef uint32_t transaction_code_t;
enum { FIRST_CALL_TRANSACTION = 0x00000001 };

struct AIBinder;
typedef struct AIBinder AIBinder;

void AIBinder_incStrong(AIBinder* binder);
void AIBinder_decStrong(AIBinder* binder);

__END_DECLS
