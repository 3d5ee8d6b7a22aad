// Host stand-in for libbinder_ndk's binder_interface_utils.h: the shared-ownership base of
// every AIDL object and the local (Bn) side of an interface.
#pragma once

#include <android/binder_auto_utils.h>
#include <android/binder_ibinder.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace ndk {

// Owned through std::shared_ptr only: objects are made with make<T>(), as on the platform,
// where plain `new` is private. As there, one destroyed without ever having been owned that
// way (say, on the stack), or destroyed while a shared_ptr still owns it, aborts.
class SharedRefBase {
  public:
    SharedRefBase() {}
    virtual ~SharedRefBase() {
        std::call_once(mFlagThis, [] { fatal("SharedRefBase: no ref created during lifetime"); });
        if (ref() != nullptr) {
            fatal(
                "SharedRefBase: destructed but still able to lock weak_ptr. Is this object "
                "double-owned?");
        }
    }

    std::shared_ptr<SharedRefBase> ref() {
        std::shared_ptr<SharedRefBase> thiz = mThis.lock();
        std::call_once(mFlagThis, [&]() { mThis = thiz = std::shared_ptr<SharedRefBase>(this); });
        return thiz;
    }
    template <typename CHILD>
    std::shared_ptr<CHILD> ref() {
        return std::static_pointer_cast<CHILD>(ref());
    }
    template <class T, class... Args>
    static std::shared_ptr<T> make(Args&&... args) {
        T* t = new T(std::forward<Args>(args)...);
        return t->template ref<T>();
    }
    static void operator delete(void* p) { std::free(p); }

  private:
    static void* operator new(size_t s) { return std::malloc(s); }
    [[noreturn]] static void fatal(const char* message) {
        std::fprintf(stderr, "%s\n", message);
        std::abort();
    }

    std::once_flag mFlagThis;
    std::weak_ptr<SharedRefBase> mThis;
};

class ICInterface : public SharedRefBase {
  public:
    ICInterface() {}
    virtual ~ICInterface() {}
    virtual SpAIBinder asBinder() = 0;
    virtual bool isRemote() = 0;
};

template <typename INTERFACE>
class BnCInterface : public INTERFACE {
  public:
    BnCInterface() {}
    virtual ~BnCInterface() {}

    SpAIBinder asBinder() override final {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mBinder.get() == nullptr) mBinder = createBinder();
        return mBinder;
    }
    bool isRemote() override final { return false; }

    static std::string makeServiceName(std::string_view instance) {
        return INTERFACE::descriptor + ("/" + std::string(instance));
    }

  protected:
    virtual SpAIBinder createBinder() = 0;

  private:
    std::mutex mMutex;
    // The platform keeps a weak reference here; the host binder holds no reference back to
    // this object, so a strong one makes no cycle.
    SpAIBinder mBinder;
};

}  // namespace ndk
