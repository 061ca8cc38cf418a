#pragma once

// The numbers every benchmark reports: times in its units, counts that the
// environment may shorten, and percentiles.

#include <chrono>
#include <vector>

namespace quillet::bench {

template <typename Rep, typename Period>
double millis(std::chrono::duration<Rep, Period> d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

template <typename Rep, typename Period>
double seconds(std::chrono::duration<Rep, Period> d) {
    return std::chrono::duration<double>(d).count();
}

// A whole number from the environment, or `fallback` when unset or not a
// positive number: lets quick runs shorten the long measurements.
int envCount(const char* name, int fallback);

// Nearest rank: the value at or below which the fraction `q` of the values
// fall (0.5 the median, 1 the largest); 0 for no values.
double percentile(const std::vector<double>& values, double q);
// The same at 95 %, in the shape Google Benchmark's statistics take.
double p95(const std::vector<double>& values);

// A table of times in ms: its heading, then one row per measurement with
// the median, 95th percentile, largest and how many.
void printTimesHeading();
void printTimes(const char* what, const std::vector<double>& ms);

}  // namespace quillet::bench
