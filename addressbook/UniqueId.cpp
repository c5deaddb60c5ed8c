#include "UniqueId.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <unistd.h>

namespace kx {

std::string newUniqueId() {
  char text[48];
  size_t length = newUniqueId(text);
  return std::string(text, length);
}

size_t newUniqueId(char (&text)[48]) {
  static std::mutex lock;
  static pid_t tagOwner = 0;
  static unsigned tag = 0;
  static unsigned counter = 0;

  std::lock_guard<std::mutex> guard(lock);
  if (tagOwner != getpid()) {
    std::random_device device;
    tag = device();
    counter = 0;
    tagOwner = getpid();
  }
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::system_clock::now().time_since_epoch()).count();
  int length = std::snprintf(text, sizeof text, "%012llx-%04llx-%08x-%08x",
                             static_cast<unsigned long long>(micros) >> 16,
                             static_cast<unsigned long long>(micros) & 0xffff, tag, ++counter);
  return static_cast<size_t>(length);
}

}  // namespace kx
