// Preloaded into the tool by the black-box tests: the C library of a smaller platform.
// LIMIT_SIGADDSET_MAX=32 refuses higher signals as 32-bit bionic's sigaddset does;
// LIMIT_FAIL_THREAD=N fails the Nth pthread_create with EAGAIN, as a starved process sees.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>

static int limit(const char* name) {
    const char* value = getenv(name);
    return value != NULL ? atoi(value) : 0;
}

int sigaddset(sigset_t* set, int signo) {
    static int (*real)(sigset_t*, int);
    if (real == NULL) real = (int (*)(sigset_t*, int))dlsym(RTLD_NEXT, "sigaddset");
    const int max = limit("LIMIT_SIGADDSET_MAX");
    if (max > 0 && signo > max) {
        errno = EINVAL;
        return -1;
    }
    return real(set, signo);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                   void* arg) {
    static int (*real)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static int created;
    if (real == NULL) real = dlsym(RTLD_NEXT, "pthread_create");
    if (__atomic_add_fetch(&created, 1, __ATOMIC_SEQ_CST) == limit("LIMIT_FAIL_THREAD")) {
        return EAGAIN;
    }
    return real(thread, attr, start, arg);
}
