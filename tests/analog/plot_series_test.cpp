// The plot window's numbers below the GUI line: the CSV of curves of unequal lengths, the
// point nearest the mouse, and labels spread so that none overlaps another.
#include "analog/plot_series.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace ulvarin {
namespace {

TEST(PlotCsv, RowsForEveryXWithGapsWhereASeriesHasNoPoint) {
    PlotData data{"t", "DAC value", "Counts", {}};
    data.series.push_back({"Median, all", {}, {2, 1, 3}, {20.5, 10, 30}});
    data.series.push_back({"Say \"hi\"", {}, {3, std::nan(""), 4}, {0.1, 7, 1e20}});
    EXPECT_EQ(PlotCsv(data),
              "DAC value,\"Median, all\",\"Say \"\"hi\"\"\"\n"
              "1,10,\n"
              "2,20.5,\n"
              "3,30,0.1\n"
              "4,,1e+20\n");
    // Shortest texts that read back as the same number.
    for (const double value : {0.1, 1.0 / 3.0, -2.5e-300, 123456789.125}) {
        EXPECT_EQ(std::stod(CsvNumber(value)), value) << CsvNumber(value);
    }
    EXPECT_EQ(CsvNumber(std::numeric_limits<double>::infinity()), "inf");
}

TEST(NearestPoint, CountsDistancesInPixelsAndSkipsNonFinitePoints) {
    PlotData data;
    data.series.push_back({"a", {}, {0, 10}, {0, 1000}});
    data.series.push_back({"b", {}, {5, 6}, {std::nan(""), 400}});
    // 10 units of x per pixel, 1000 of y: (6, 400) is nearer in pixels than it looks.
    EXPECT_EQ(NearestPoint(data, 9, 500, 10, 1000), (PlotHit{1, 1}));
    // In equal units (10, 1000) is far away and (0, 0) nearest.
    EXPECT_EQ(NearestPoint(data, 9, 1, 1, 1), (PlotHit{0, 0}));
    EXPECT_FALSE(NearestPoint(PlotData{}, 0, 0, 1, 1));
}

bool Overlap(const LabelBox& a, PlotPoint at, const LabelBox& b, PlotPoint bt) {
    return at.x < bt.x + b.width && bt.x < at.x + a.width && at.y < bt.y + b.height &&
           bt.y < at.y + a.height;
}

TEST(SpreadLabels, NoTwoOverlapAndAllStayInTheBox) {
    // A free label keeps its place.
    EXPECT_EQ(SpreadLabels({{30, 40, 50, 12}}, 150), (std::vector<PlotPoint>{{30, 40}}));
    // Thirteen labels wanted at nearly one point, as the scope's channels are, in boxes of
    // several heights (one too low for a single column).
    for (const int height : {150, 400, 60}) {
        std::vector<LabelBox> labels;
        for (int c = 0; c < 13; ++c) labels.push_back({0, 70 + (c % 3), 60 + c, 13});
        const std::vector<PlotPoint> placed = SpreadLabels(labels, height);
        ASSERT_EQ(placed.size(), labels.size());
        for (size_t i = 0; i < labels.size(); ++i) {
            EXPECT_GE(placed[i].y, 0) << height;
            EXPECT_LE(placed[i].y + 13, height) << height;
            for (size_t j = 0; j < i; ++j)
                EXPECT_FALSE(Overlap(labels[i], placed[i], labels[j], placed[j]))
                    << "labels " << j << " and " << i << " in a box " << height << " high";
        }
    }
}

}  // namespace
}  // namespace ulvarin
