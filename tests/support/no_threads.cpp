// Loaded with LD_PRELOAD, makes every thread creation fail as it does when
// the system's limit on threads is reached (EAGAIN), so that a program's
// fallback to a single thread can be tested through its real path.
#include <pthread.h>

#include <cerrno>

extern "C" int pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) {
    return EAGAIN;
}
