#ifndef CORVEL_THREADSAFETY_H
#define CORVEL_THREADSAFETY_H

// Which lock guards which data, said so that clang's -Wthread-safety checks it: data marked
// CORVEL_GUARDED_BY(mx) is touched only with mx held, a function marked CORVEL_REQUIRES(mx) is
// called only with it held, and so on. Other compilers see nothing.

#if defined(__clang__)
#define CORVEL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define CORVEL_THREAD_ANNOTATION(x)
#endif

// A type whose objects are locks (Corvel::Mutex, the daemon's reload gate).
#define CORVEL_CAPABILITY(x) CORVEL_THREAD_ANNOTATION(capability(x))
// A type whose objects hold a lock for their lifetime (Corvel::MutexLock).
#define CORVEL_SCOPED_CAPABILITY CORVEL_THREAD_ANNOTATION(scoped_lockable)

// Data read and written only with the lock held (shared suffices for reading).
#define CORVEL_GUARDED_BY(x) CORVEL_THREAD_ANNOTATION(guarded_by(x))
// Data pointed to, read and written only with the lock held; the pointer itself is not guarded.
#define CORVEL_PT_GUARDED_BY(x) CORVEL_THREAD_ANNOTATION(pt_guarded_by(x))

// Lock order, where the compiler can check it (-Wthread-safety-beta).
#define CORVEL_ACQUIRED_BEFORE(...) CORVEL_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define CORVEL_ACQUIRED_AFTER(...) CORVEL_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))

// The caller holds the lock (alone, or shared with other readers) and still holds it on return.
#define CORVEL_REQUIRES(...) CORVEL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define CORVEL_REQUIRES_SHARED(...) CORVEL_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))

// The function takes the lock and returns holding it; or is given it held and returns without it.
#define CORVEL_ACQUIRE(...) CORVEL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define CORVEL_ACQUIRE_SHARED(...) CORVEL_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define CORVEL_RELEASE(...) CORVEL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define CORVEL_RELEASE_SHARED(...) CORVEL_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
// Takes the lock when it returns the first argument.
#define CORVEL_TRY_ACQUIRE(...) CORVEL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))

// The caller must not hold the lock: the function takes it itself.
#define CORVEL_EXCLUDES(...) CORVEL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

// Tells the analysis, without checking, that the lock is held from here on.
#define CORVEL_ASSERT_CAPABILITY(x) CORVEL_THREAD_ANNOTATION(assert_capability(x))
// The function returns the lock named.
#define CORVEL_RETURN_CAPABILITY(x) CORVEL_THREAD_ANNOTATION(lock_returned(x))

// Turns the analysis off for one function the analysis cannot follow; say why next to it.
#define CORVEL_NO_THREAD_SAFETY_ANALYSIS CORVEL_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif
