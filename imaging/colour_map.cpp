#include "imaging/colour_map.h"

#include <algorithm>

namespace ulvarin {
namespace {

uint32_t Rgb(double r, double g, double b) {
    const auto channel = [](double c) {
        return static_cast<uint32_t>(std::lround(std::clamp(c, 0.0, 1.0) * 255.0));
    };
    return 0xFF000000u | channel(r) << 16 | channel(g) << 8 | channel(b);
}

uint32_t Grey(uint32_t level) {
    return 0xFF000000u | level << 16 | level << 8 | level;
}

// A polynomial fit of viridis (within about 1 % of the published table): each channel is
// the sum of c[k] * t^k.
constexpr double kViridis[3][7] = {
    {0.2777273272234177, 0.1050930431085774, -0.3308618287255563, -4.634230498983486,
     6.228269936347081, 4.776384997670288, -5.435455855934631},
    {0.005407344544966578, 1.404613529898575, 0.214847559468213, -5.799100973351585,
     14.17993336680509, -13.74514537774601, 4.645852612178535},
    {0.3340998053353061, 1.384590162594685, 0.09509516302823659, -19.33244095627987,
     56.69055260068105, -65.35303263337234, 26.3124352495832},
};

double Polynomial(const double (&c)[7], double t) {
    double sum = 0.0;
    for (int k = 6; k >= 0; --k) sum = sum * t + c[k];
    return sum;
}

ColourTable GreyTable(uint32_t below, uint32_t above) {
    ColourTable table;
    for (uint32_t level = 0; level < 256; ++level) table.levels[level] = Grey(level);
    table.below = below;
    table.above = above;
    return table;
}

ColourTable ViridisTable() {
    ColourTable table;
    for (int level = 0; level < 256; ++level) {
        const double t = level / 255.0;
        table.levels[level] =
            Rgb(Polynomial(kViridis[0], t), Polynomial(kViridis[1], t), Polynomial(kViridis[2], t));
    }
    table.below = table.levels.front();
    table.above = table.levels.back();
    return table;
}

}  // namespace

std::string_view ColourMapName(ColourMap map) {
    switch (map) {
        case ColourMap::ThreeBand:
            return "Three-band";
        case ColourMap::Grey:
            return "Grey";
        case ColourMap::Viridis:
            return "Viridis";
    }
    return "";
}

const ColourTable& TableOf(ColourMap map) {
    static const ColourTable threeBand = GreyTable(kBelowRangeColour, kAboveRangeColour);
    static const ColourTable grey = GreyTable(Grey(0), Grey(255));
    static const ColourTable viridis = ViridisTable();
    switch (map) {
        case ColourMap::Grey:
            return grey;
        case ColourMap::Viridis:
            return viridis;
        case ColourMap::ThreeBand:
            break;
    }
    return threeBand;
}

}  // namespace ulvarin
