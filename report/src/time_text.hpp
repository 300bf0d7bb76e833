// Times as people read them, in one form for the table and the HTML page.
#pragma once

#include <cstdint>
#include <string>

#include "number_text.hpp"

namespace zel_report {

// A time in the largest unit of ns, µs, ms and s in which it is at least 1, to four significant
// digits (at least the whole number): "632.3 ns", "1.271 µs", "12.34 ms", "1234 s".
inline std::string readable_time(double milliseconds) {
  static constexpr struct {
    double per_millisecond;
    const char* name;
  } units[] = {{1e-3, "s"}, {1.0, "ms"}, {1e3, "\u00b5s"}, {1e6, "ns"}};
  for (const auto& unit : units) {
    const double value = milliseconds * unit.per_millisecond;
    // A value that would round to 1000 of the next smaller unit is shown as 1.000 of this one.
    if (value >= 0.9995 || unit.per_millisecond == 1e6) {
      const int digits = value < 9.9995 ? 3 : value < 99.995 ? 2 : value < 999.95 ? 1 : 0;
      return fixed(value, digits) + " " + unit.name;
    }
  }
  return {};
}

// The time of `cycles` at `clock_hz`, or "-" when the clock rate is unknown.
inline std::string cycles_time(std::uint64_t cycles, std::uint64_t clock_hz) {
  return clock_hz == 0
             ? "-"
             : readable_time(static_cast<double>(cycles) / static_cast<double>(clock_hz) * 1000.0);
}

}  // namespace zel_report
