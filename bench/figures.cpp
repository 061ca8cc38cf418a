#include "figures.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quillet::bench {

int envCount(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

double percentile(const std::vector<double>& values, double q) {
    if (values.empty()) {
        return 0.0;
    }
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

double p95(const std::vector<double>& values) {
    return percentile(values, 0.95);
}

void printTimesHeading() {
    std::printf("%-44s %8s %8s %8s   (n)\n", "", "median", "p95", "max");
}

void printTimes(const char* what, const std::vector<double>& ms) {
    if (ms.empty()) {
        std::printf("%-44s no samples\n", what);
        return;
    }
    std::printf("%-44s %8.1f %8.1f %8.1f   (%zu)\n", what, percentile(ms, 0.5),
                percentile(ms, 0.95), percentile(ms, 1.0), ms.size());
}

}  // namespace quillet::bench
