#include "UniqueId.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <pthread.h>
#include <unistd.h>

namespace kx {

namespace {

// Set in a forked child, so that it draws a tag of its own. Asking getpid() on every id
// would cost a system call each: a book of 100,000 persons makes 200,000 ids.
std::atomic<bool> forked{false};

void noteFork() { forked = true; }

char *putHex(char *to, uint64_t value, int digits) {
  static const char hex[] = "0123456789abcdef";
  for (int i = digits - 1; i >= 0; i--) {
    to[i] = hex[value & 0xf];
    value >>= 4;
  }
  return to + digits;
}

// Lower-case digits only: anything else would not come back as the same text.
bool getHex(const char *from, int digits, uint64_t *value) {
  uint64_t n = 0;
  for (int i = 0; i < digits; i++) {
    char c = from[i];
    if (c >= '0' && c <= '9') {
      n = (n << 4) | static_cast<uint64_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      n = (n << 4) | static_cast<uint64_t>(c - 'a' + 10);
    } else {
      return false;
    }
  }
  *value = n;
  return true;
}

}  // namespace

UniqueIdParts newUniqueIdParts() {
  static std::mutex lock;
  static bool drawn = false;
  static uint32_t tag = 0;
  static uint32_t counter = 0;

  std::lock_guard<std::mutex> guard(lock);
  if (!drawn || forked.exchange(false)) {
    if (!drawn) pthread_atfork(nullptr, nullptr, noteFork);
    std::random_device device;
    tag = device();
    counter = 0;
    drawn = true;
  }
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::system_clock::now().time_since_epoch()).count();
  return UniqueIdParts{static_cast<uint64_t>(micros), tag, ++counter};
}

std::string newUniqueId() {
  char text[48];
  size_t length = formatUniqueId(newUniqueIdParts(), text);
  return std::string(text, length);
}

// Written out by hand: snprintf was a good part of the cost of making an id.
size_t formatUniqueId(const UniqueIdParts &parts, char (&text)[48]) {
  char *p = putHex(text, parts.micros >> 16, 12);
  *p++ = '-';
  p = putHex(p, parts.micros & 0xffff, 4);
  *p++ = '-';
  p = putHex(p, parts.tag, 8);
  *p++ = '-';
  p = putHex(p, parts.counter, 8);
  *p = '\0';
  return static_cast<size_t>(p - text);
}

bool parseUniqueId(const char *text, size_t length, UniqueIdParts *parts) {
  if (length != kUniqueIdLength || text[12] != '-' || text[17] != '-' || text[26] != '-') return false;
  uint64_t high = 0, low = 0, tag = 0, counter = 0;
  if (!getHex(text, 12, &high) || !getHex(text + 13, 4, &low) || !getHex(text + 18, 8, &tag) ||
      !getHex(text + 27, 8, &counter)) {
    return false;
  }
  *parts = UniqueIdParts{(high << 16) | low, static_cast<uint32_t>(tag), static_cast<uint32_t>(counter)};
  return true;
}

}  // namespace kx
