// Host stand-in for the HIDL runtime's transport status and Return types.
#pragma once

#include <cstdint>
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
class return_status {
  public:
    return_status() = default;
    return_status(const Status& status) : status_(status) {}  // NOLINT: implicit like HIDL's
    bool isOk() const { return status_.isOk(); }
    bool isDeadObject() const { return status_.exceptionCode() == Status::EX_TRANSACTION_FAILED; }
    std::string description() const { return status_.description(); }
    // Real HIDL aborts when an unchecked error Return dies; the host build stays lenient.
    void assertOk() const {}

  private:
    Status status_;
};
}  // namespace details

template <typename T>
class Return : public details::return_status {
  public:
    Return(T value) : value_(std::move(value)) {}  // NOLINT: implicit like HIDL's
    Return(const Status& status) : details::return_status(status), value_() {}  // NOLINT
    operator T() const { return value_; }
    T withDefault(T default_value) const { return isOk() ? value_ : default_value; }

  private:
    T value_;
};

template <>
class Return<void> : public details::return_status {
  public:
    Return() = default;
    Return(const Status& status) : details::return_status(status) {}  // NOLINT
};

inline Return<void> Void() {
    return Return<void>();
}

}  // namespace hardware
}  // namespace android
