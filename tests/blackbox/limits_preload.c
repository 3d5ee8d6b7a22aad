// Preloaded into the tool: the C library of a smaller platform. LIMIT_SIGADDSET_MAX=32 refuses
// higher signals as 32-bit bionic does; LIMIT_FAIL_THREAD=N fails the Nth pthread_create.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>

int sigaddset(sigset_t* set, int signo) {
    const char* max = getenv("LIMIT_SIGADDSET_MAX");
    if (max != NULL && signo > atoi(max)) return errno = EINVAL, -1;
    return ((int (*)(sigset_t*, int))dlsym(RTLD_NEXT, "sigaddset"))(set, signo);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*run)(void*), void* arg) {
    static int created;
    const char* fail = getenv("LIMIT_FAIL_THREAD");
    if (fail != NULL && __atomic_add_fetch(&created, 1, __ATOMIC_SEQ_CST) == atoi(fail))
        return EAGAIN;
    int (*real)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) =
        dlsym(RTLD_NEXT, "pthread_create");
    return real(thread, attr, run, arg);
}
