// Host stand-in for the parts of libhidlbase's HidlSupport.h that the tool and its tests use.
#pragma once

#include <hidl/Status.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

namespace android {
namespace hardware {

// An owning vector, like HIDL's hidl_vec. Backed by std::vector on the host.
template <typename T>
class hidl_vec {
  public:
    hidl_vec() = default;
    hidl_vec(size_t size) : items_(size) {}  // NOLINT: implicit like HIDL's
    hidl_vec(std::initializer_list<T> list) : items_(list) {}
    hidl_vec(const std::vector<T>& items) : items_(items) {}  // NOLINT
    template <typename InputIterator>
    hidl_vec(InputIterator first, InputIterator last) : items_(first, last) {}

    hidl_vec& operator=(const std::vector<T>& items) {
        items_ = items;
        return *this;
    }

    size_t size() const { return items_.size(); }
    void resize(size_t size) { items_.resize(size); }
    T* data() { return items_.data(); }
    const T* data() const { return items_.data(); }
    T& operator[](size_t index) { return items_[index]; }
    const T& operator[](size_t index) const { return items_[index]; }
    T* begin() { return items_.data(); }
    T* end() { return items_.data() + items_.size(); }
    const T* begin() const { return items_.data(); }
    const T* end() const { return items_.data() + items_.size(); }
    // Copies, as setToExternal with shouldOwn would take ownership in HIDL.
    void setToExternal(T* data, size_t size, bool /*should_own*/ = false) {
        items_.assign(data, data + size);
    }
    operator std::vector<T>() const { return items_; }  // NOLINT: implicit like HIDL's
    bool operator==(const hidl_vec& other) const { return items_ == other.items_; }
    bool operator!=(const hidl_vec& other) const { return items_ != other.items_; }

  private:
    std::vector<T> items_;
};

class hidl_string {
  public:
    hidl_string() = default;
    hidl_string(const char* text) : text_(text) {}         // NOLINT
    hidl_string(const std::string& text) : text_(text) {}  // NOLINT
    const char* c_str() const { return text_.c_str(); }
    size_t size() const { return text_.size(); }
    operator std::string() const { return text_; }  // NOLINT

  private:
    std::string text_;
};

}  // namespace hardware
}  // namespace android
