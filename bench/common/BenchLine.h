// One line per figure, the same shape for every benchmark, so that bench/run's output reads
// as one table: the figure, its floor measured in the same run, their ratio, the target.
#pragma once

#include <cstdio>
#include <string>

namespace bench {

// A figure compared with a floor: ratio = value / floor.
inline void line(const std::string &figure, double value, const std::string &unit, double floor,
                 const std::string &target) {
  std::printf("%-52s %12.3f %-6s floor %12.3f %-6s ratio %7.2f  target %s\n", figure.c_str(), value,
              unit.c_str(), floor, unit.c_str(), floor > 0 ? value / floor : 0.0, target.c_str());
  std::fflush(stdout);
}

// A figure with no floor of its own (a count, an absolute time).
inline void line(const std::string &figure, double value, const std::string &unit,
                 const std::string &target) {
  std::printf("%-52s %12.3f %-6s floor %12s %-6s ratio %7s  target %s\n", figure.c_str(), value, unit.c_str(),
              "-", "", "-", target.c_str());
  std::fflush(stdout);
}

}  // namespace bench
