#include "figures.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

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

}  // namespace quillet::bench
