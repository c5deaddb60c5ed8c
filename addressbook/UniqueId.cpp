#include "UniqueId.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <pthread.h>
#include <unistd.h>

namespace kx {

std::string newUniqueId() {
  char text[48];
  size_t length = newUniqueId(text);
  return std::string(text, length);
}

namespace {

// Set in a forked child, so that it draws a tag of its own. Asking getpid() on every id
// would cost a system call each: a book of 100,000 persons makes 200,000 ids.
std::atomic<bool> forked{false};

void noteFork() { forked = true; }

char *putHex(char *to, unsigned long long value, int digits) {
  static const char hex[] = "0123456789abcdef";
  for (int i = digits - 1; i >= 0; i--) {
    to[i] = hex[value & 0xf];
    value >>= 4;
  }
  return to + digits;
}

}  // namespace

size_t newUniqueId(char (&text)[48]) {
  static std::mutex lock;
  static bool drawn = false;
  static unsigned tag = 0;
  static unsigned counter = 0;

  std::lock_guard<std::mutex> guard(lock);
  if (!drawn || forked.exchange(false)) {
    if (!drawn) pthread_atfork(nullptr, nullptr, noteFork);
    std::random_device device;
    tag = device();
    counter = 0;
    drawn = true;
  }
  auto micros = static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::system_clock::now().time_since_epoch()).count());
  // "%012llx-%04llx-%08x-%08x", written out by hand: snprintf was a good part of the cost.
  char *p = putHex(text, micros >> 16, 12);
  *p++ = '-';
  p = putHex(p, micros & 0xffff, 4);
  *p++ = '-';
  p = putHex(p, tag, 8);
  *p++ = '-';
  p = putHex(p, ++counter, 8);
  *p = '\0';
  return static_cast<size_t>(p - text);
}

}  // namespace kx
