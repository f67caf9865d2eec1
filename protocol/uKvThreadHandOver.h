#pragma once
// Calls handed to another thread's event loop. Qt's event queue carries a posted call from one
// thread to the other under locks of Qt's own. A ThreadSanitizer build cannot see those (the
// distribution's Qt is not instrumented), so every hand-over of ours is marked here as well,
// where it happens: what the posting thread did before it posted happens before the call runs,
// and for a blocking call what the call did happens before the caller goes on. Outside such a
// build the marks are empty and these are plain QMetaObject::invokeMethod calls.
//
// The posted call owns copies of what it needs (captured by value); a capture by reference is
// only for a blocking call, whose caller waits.
#include <QMetaObject>
#include <QObject>

#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace KvThread {

inline void MarkRelease(const void *address) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(const_cast<void *>(address));
#else
    Q_UNUSED(address);
#endif
}

inline void MarkAcquire(const void *address) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(const_cast<void *>(address));
#else
    Q_UNUSED(address);
#endif
}

// The call as it travels: every copy releases itself once built, and the run (or the
// destruction of a call that never ran) acquires it before touching what it carries.
template <class TFn> class THandedOverCall {
public:
    THandedOverCall(TFn fn, const void *returnMark) : Fn(std::move(fn)), ReturnMark(returnMark) {
        MarkRelease(this);
    }
    THandedOverCall(THandedOverCall &&other) noexcept
        : Fn(std::move(other.Fn)), ReturnMark(other.ReturnMark) {
        MarkRelease(this);
    }
    THandedOverCall(const THandedOverCall &other) : Fn(other.Fn), ReturnMark(other.ReturnMark) {
        MarkRelease(this);
    }
    THandedOverCall &operator=(const THandedOverCall &) = delete;
    ~THandedOverCall() { MarkAcquire(this); }

    void operator()() {
        MarkAcquire(this);
        Fn();
        if (ReturnMark) MarkRelease(ReturnMark);
    }

private:
    TFn Fn;
    const void *ReturnMark;
};

// Runs Fn on Target's thread later; returns at once.
template <class TFn> bool Post(QObject *target, TFn fn) {
    return QMetaObject::invokeMethod(target, THandedOverCall<TFn>(std::move(fn), nullptr),
                                     Qt::QueuedConnection);
}

// Runs Fn on Target's thread (another thread than the caller's) and waits until it has run.
template <class TFn> bool CallBlocking(QObject *target, TFn fn) {
    const char returnMark = 0;
    const bool ok = QMetaObject::invokeMethod(target, THandedOverCall<TFn>(std::move(fn), &returnMark),
                                              Qt::BlockingQueuedConnection);
    MarkAcquire(&returnMark);
    return ok;
}

} // namespace KvThread
