// A record's uid as the key of a book's record map: the bytes of the uids this library makes
// (35 of them) are kept inside the key, so a map entry is one allocation rather than two;
// longer uids, which only other programs could store, go to the heap.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kx {

class UidKey {
 public:
  explicit UidKey(std::string_view uid) : size_(static_cast<uint32_t>(uid.size())) {
    char *to = size_ <= kInline ? inline_ : (heap_ = new char[size_]);
    std::memcpy(to, uid.data(), size_);
  }
  UidKey(const UidKey &other) : UidKey(other.view()) {}
  UidKey &operator=(const UidKey &) = delete;
  ~UidKey() {
    if (size_ > kInline) delete[] heap_;
  }

  std::string_view view() const { return std::string_view(size_ <= kInline ? inline_ : heap_, size_); }
  const char *data() const { return size_ <= kInline ? inline_ : heap_; }
  size_t size() const { return size_; }

 private:
  static const uint32_t kInline = 36;
  uint32_t size_;
  union {
    char inline_[kInline];
    char *heap_;
  };
};

// Orders keys by their bytes, and finds them by any string.
struct UidLess {
  using is_transparent = void;
  bool operator()(const UidKey &a, const UidKey &b) const { return a.view() < b.view(); }
  bool operator()(const UidKey &a, std::string_view b) const { return a.view() < b; }
  bool operator()(std::string_view a, const UidKey &b) const { return a < b.view(); }
};

}  // namespace kx
