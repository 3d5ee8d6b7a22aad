// Host stand-in for libbinder_ndk's binder_auto_utils.h: owning wrappers of a binder and of
// a call's status.
#pragma once

#include <android/binder_ibinder.h>
#include <android/binder_status.h>

#include <cstddef>
#include <string>

namespace ndk {

// One strong reference to an AIBinder.
class SpAIBinder {
  public:
    SpAIBinder() = default;
    explicit SpAIBinder(AIBinder* binder) : mBinder(binder) {}  // takes the reference
    SpAIBinder(std::nullptr_t) : SpAIBinder() {}                // NOLINT: like the platform's
    SpAIBinder(const SpAIBinder& other) { *this = other; }
    ~SpAIBinder() { set(nullptr); }
    SpAIBinder& operator=(const SpAIBinder& other) {
        if (this == &other) return *this;
        if (other.mBinder != nullptr) AIBinder_incStrong(other.mBinder);
        set(other.mBinder);
        return *this;
    }
    void set(AIBinder* binder) {  // takes the reference
        if (mBinder != nullptr) AIBinder_decStrong(mBinder);
        mBinder = binder;
    }
    AIBinder* get() const { return mBinder; }
    AIBinder** getR() { return &mBinder; }

  private:
    AIBinder* mBinder = nullptr;
};

// The status of one call. A null status, as a moved-from one, is not OK.
class ScopedAStatus {
  public:
    explicit ScopedAStatus(AStatus* a = nullptr) : mStatus(a) {}
    ScopedAStatus(ScopedAStatus&& other) noexcept : mStatus(other.mStatus) {
        other.mStatus = nullptr;
    }
    ScopedAStatus& operator=(ScopedAStatus&& other) noexcept {
        if (this != &other) {
            if (mStatus != nullptr) AStatus_delete(mStatus);
            mStatus = other.mStatus;
            other.mStatus = nullptr;
        }
        return *this;
    }
    ScopedAStatus(const ScopedAStatus&) = delete;
    ScopedAStatus& operator=(const ScopedAStatus&) = delete;
    ~ScopedAStatus() {
        if (mStatus != nullptr) AStatus_delete(mStatus);
    }

    const AStatus* get() const { return mStatus; }
    bool isOk() const { return mStatus != nullptr && AStatus_isOk(mStatus); }
    binder_exception_t getExceptionCode() const { return AStatus_getExceptionCode(mStatus); }
    binder_status_t getStatus() const { return AStatus_getStatus(mStatus); }
    std::string getDescription() const {
        return isOk() ? "Status(0)"
                      : "Status(" + std::to_string(getExceptionCode()) + ", " +
                            std::to_string(getStatus()) + ")";
    }

    static ScopedAStatus ok() { return ScopedAStatus(AStatus_newOk()); }
    static ScopedAStatus fromExceptionCode(binder_exception_t exception) {
        return ScopedAStatus(AStatus_fromExceptionCode(exception));
    }
    static ScopedAStatus fromStatus(binder_status_t status) {
        return ScopedAStatus(AStatus_fromStatus(status));
    }

  private:
    AStatus* mStatus = nullptr;
};

}  // namespace ndk
