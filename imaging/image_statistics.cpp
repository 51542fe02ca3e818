#include "imaging/image_statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "base/number_text.h"
#include "imaging/readable_number.h"

namespace ulvarin {

ImageStatistics ComputeImageStatistics(std::span<const double> values,
                                       std::span<const uint16_t> config, ChipFamily family) {
    const uint16_t maskBit = MaskBit(family);
    const size_t n = std::min(values.size(), config.size());
    ImageStatistics s;
    // Minimum and maximum start from the first good value, so that values above the empty
    // minimum or below the empty maximum are reported as they are.
    double minimum = std::numeric_limits<double>::infinity();
    double maximum = -minimum;
    for (size_t p = 0; p < n; ++p) {
        if ((config[p] & maskBit) == 0) continue;
        const double v = values[p];
        s.sum += v;
        if (v > maximum) maximum = v;
        if (v < minimum) minimum = v;
        if (v > 0) ++s.positiveCount;
        ++s.goodCount;
    }
    if (s.goodCount == 0) return s;
    if (minimum <= maximum) {  // false only when every good value is not a number
        s.minimum = minimum;
        s.maximum = maximum;
    }
    s.average = s.sum / s.goodCount;

    double squares = 0.0;
    for (size_t p = 0; p < n; ++p) {
        if ((config[p] & maskBit) == 0) continue;
        const double d = s.average - values[p];
        squares += d * d;
    }
    if (squares != 0.0) s.standardDeviation = std::sqrt(squares / s.goodCount);
    return s;
}

ImageStatistics ComputeRegionStatistics(std::span<const double> values,
                                        std::span<const uint16_t> config, const ChipLayout& layout,
                                        const ImageRect& rect) {
    const uint32_t inUse = layout.pixelsInUse();
    if (inUse == 0 || values.size() < inUse || config.size() < inUse) return {};
    const ImageGeometry g = GeometryFor(layout.chipCount);
    const uint32_t right = std::min(rect.right, g.width() - 1);
    const uint32_t bottom = std::min(rect.bottom, g.height() - 1);
    std::vector<double> regionValues;
    std::vector<uint16_t> regionConfig;
    for (uint32_t y = rect.top; y <= bottom; ++y) {
        for (uint32_t x = rect.left; x <= right; ++x) {
            const uint32_t pixel = ImageIndexToPixel(y * g.width() + x, layout);
            regionValues.push_back(values[pixel]);
            regionConfig.push_back(config[pixel]);
        }
    }
    return ComputeImageStatistics(regionValues, regionConfig, layout.family);
}

StatisticsLabels FormatStatisticsLabels(const ImageStatistics& stats, double integratedTime) {
    return {ReadableNumber(stats.minimum) + "-" + ReadableNumber(stats.maximum),
            ReadableNumber(stats.sum),
            ReadableNumber(stats.average),
            ReadableNumber(stats.standardDeviation),
            kMedianPrompt,
            FormatDouble("%.8g s", integratedTime)};
}

std::string FormatMedianLabel(double median) {
    return ReadableNumber(median);
}

}  // namespace ulvarin
