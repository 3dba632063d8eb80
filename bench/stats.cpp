#include "stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace bench
{

namespace
{

double Rank(const std::vector<double>& sorted, double percent)
{
    const double rank = std::ceil(percent / 100.0 * static_cast<double>(sorted.size()));
    const size_t i = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
    return sorted[std::min(i, sorted.size() - 1)];
}

} // namespace

Summary Summarise(std::vector<double> values)
{
    Summary s;
    s.n = values.size();
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    s.min = values.front();
    s.max = values.back();
    s.mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(s.n);
    s.p1 = Rank(values, 1);
    s.p50 = Rank(values, 50);
    s.p99 = Rank(values, 99);
    return s;
}

std::string Describe(const Summary& s, int digits)
{
    char text[256];
    std::snprintf(text, sizeof(text), "n=%zu min=%.*f p1=%.*f p50=%.*f mean=%.*f p99=%.*f max=%.*f",
                  s.n, digits, s.min, digits, s.p1, digits, s.p50, digits, s.mean, digits, s.p99,
                  digits, s.max);
    return text;
}

double ShareWithin(const std::vector<double>& values, double lo, double hi)
{
    if (values.empty())
        return 0;
    const auto n =
        std::count_if(values.begin(), values.end(), [&](double v) { return v >= lo && v <= hi; });
    return static_cast<double>(n) / static_cast<double>(values.size());
}

double Slope(const std::vector<double>& x, const std::vector<double>& y)
{
    const size_t n = std::min(x.size(), y.size());
    if (n < 2)
        return 0;
    const double mx = std::accumulate(x.begin(), x.begin() + n, 0.0) / n;
    const double my = std::accumulate(y.begin(), y.begin() + n, 0.0) / n;
    double sxy = 0, sxx = 0;
    for (size_t i = 0; i < n; ++i)
    {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
    }
    return sxx == 0 ? 0 : sxy / sxx;
}

} // namespace bench
