// Host stand-in for the HIDL runtime's transport status and Return types.
#pragma once

#include <android/log.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

namespace android {
namespace hardware {

// Transport-level status of a HIDL call, as libhidlbase reports it.
class Status final {
  public:
    enum Exception : int32_t {
        EX_NONE = 0,
        EX_ILLEGAL_ARGUMENT = -3,
        EX_ILLEGAL_STATE = -5,
        EX_TRANSACTION_FAILED = -129,
    };

    Status() = default;
    static Status ok() { return Status(); }
    static Status fromExceptionCode(int32_t exception_code) { return Status(exception_code); }

    bool isOk() const { return exception_ == EX_NONE; }
    int32_t exceptionCode() const { return exception_; }
    std::string description() const {
        return isOk() ? "No error" : "Status(" + std::to_string(exception_) + ")";
    }

  private:
    explicit Status(int32_t exception_code) : exception_(exception_code) {}
    int32_t exception_ = EX_NONE;
};

namespace details {
// Like libhidlbase: the status must be read before the Return dies, or, when the call failed,
// the process aborts. A device aborts there, so the host build does too.
class return_status {
  public:
    return_status() = default;
    return_status(const Status& status) : status_(status) {}  // NOLINT: implicit like HIDL's
    return_status(const return_status&) = delete;
    return_status& operator=(const return_status&) = delete;
    return_status(return_status&& other) noexcept { *this = std::move(other); }
    return_status& operator=(return_status&& other) noexcept {
        status_ = other.status_;
        checked_ = other.checked_;
        other.checked_ = true;  // the duty to check moves along
        return *this;
    }
    ~return_status() {
        if (!checked_ && !status_.isOk()) die("Failed HIDL return status not checked: ");
    }

    bool isOk() const {
        checked_ = true;
        return status_.isOk();
    }
    bool isOkUnchecked() const { return status_.isOk(); }
    bool isDeadObject() const {
        const bool dead = status_.exceptionCode() == Status::EX_TRANSACTION_FAILED;
        if (dead) checked_ = true;
        return dead;
    }
    std::string description() const { return status_.description(); }  // does not check
    void assertOk() const {
        checked_ = true;
        if (!status_.isOk()) die("Attempted to retrieve value from failed HIDL call: ");
    }

  private:
    [[noreturn]] void die(const char* what) const {
        __android_log_print(ANDROID_LOG_FATAL, "hidl", "%s%s", what, description().c_str());
        std::abort();
    }

    Status status_;
    mutable bool checked_ = false;
};
}  // namespace details

template <typename T>
class Return : public details::return_status {
  public:
    Return(T value) : value_(std::move(value)) {}  // NOLINT: implicit like HIDL's
    Return(const Status& status) : details::return_status(status), value_() {}  // NOLINT
    Return(Return&& other) noexcept = default;
    Return& operator=(Return&& other) noexcept = default;
    operator T() const {
        assertOk();
        return value_;
    }
    T withDefault(T default_value) { return isOk() ? value_ : default_value; }

  private:
    T value_;
};

template <>
class Return<void> : public details::return_status {
  public:
    Return() = default;
    Return(const Status& status) : details::return_status(status) {}  // NOLINT
    Return(Return&& other) noexcept = default;
    Return& operator=(Return&& other) noexcept = default;
};

inline Return<void> Void() {
    return Return<void>();
}

}  // namespace hardware
}  // namespace android
