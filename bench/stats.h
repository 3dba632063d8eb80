// Distributions of measured values.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bench
{

struct Summary
{
    size_t n = 0;
    double min = 0, max = 0, mean = 0, p1 = 0, p50 = 0, p99 = 0;
};

// Nearest-rank percentiles.
Summary Summarise(std::vector<double> values);
// "n=120 min=.. p50=.. mean=.. p99=.. max=.." with `digits` decimals.
std::string Describe(const Summary& s, int digits = 1);
// Share of values within [lo, hi].
double ShareWithin(const std::vector<double>& values, double lo, double hi);
// Least-squares slope of y over x (0 with fewer than two points).
double Slope(const std::vector<double>& x, const std::vector<double>& y);

} // namespace bench
