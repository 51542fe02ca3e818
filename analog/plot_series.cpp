#include "analog/plot_series.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <numeric>

#include "analog/scope_ring.h"

namespace ulvarin {
namespace {

constexpr int kColumnGap = 4;

std::string ScanSeriesName(int slot, int channel) {
    const std::string curve = ScanCurveName(channel);
    return slot == 0 ? curve + " (all)" : curve + " chip " + std::to_string(slot);
}

PlotSeries SamplesSeries(std::string name, Rgb colour, std::span<const double> samples,
                         double start, double step) {
    PlotSeries series{std::move(name), colour, {}, {}};
    series.x.reserve(samples.size());
    for (size_t j = 0; j < samples.size(); ++j)
        series.x.push_back(start + static_cast<double>(j) * step);
    series.y.assign(samples.begin(), samples.end());
    return series;
}

PlotData ScanSeries(const PulseStore& store, const ScanAxis& scan) {
    PlotData data{"Scan curves", "DAC value", "Counts", {}, {}};
    if (!scan.dacName.empty()) {
        data.title = "Scan of " + scan.dacName;
        data.xTitle = scan.dacName + " (DAC value)";
        data.windowTitle = data.title;
    }
    const bool stepped = scan.step != 0;
    for (int slot = 0; slot < kHistorySlots; ++slot) {
        const PulseRecord& record = store.HistorySlot(slot);
        for (int c = 0; c < kPulseChannels; ++c) {
            if (!record.HasSamples(c)) continue;
            const Rgb colour = ChannelColour(static_cast<int>(data.series.size()));
            data.series.push_back(SamplesSeries(ScanSeriesName(slot, c), colour, record.Samples(c),
                                                stepped ? scan.start : 0.0,
                                                stepped ? scan.step : 1.0));
        }
    }
    return data;
}

// A CSV field: quoted, with quotes doubled, when it holds a separator, quote or line end.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char ch : text) {
        if (ch == '"') quoted += '"';
        quoted += ch;
    }
    return quoted + '"';
}

}  // namespace

PlotData PulseViewSeries(const PulseStore& store, const ScanAxis& scan) {
    if (store.HistoryHoldsScan()) return ScanSeries(store, scan);
    PlotData data{"Pulse", "Sample", "ADC code", {}, {}};
    const PulseRecord* newest = store.ShownRecord();
    if (newest == nullptr) return data;
    for (int c = 0; c < kPulseChannels; ++c) {
        if (!newest->HasSamples(c)) continue;
        data.series.push_back(SamplesSeries("Channel " + std::to_string(c), ChannelColour(c),
                                            newest->Samples(c), 0.0, 1.0));
    }
    return data;
}

PlotData SpectrumSeries(const Spectrum& spectrum, int32_t pulseCount) {
    PlotData data{
        "Spectrum, " + std::to_string(pulseCount) + " pulses", "Pulse height", "Pulses", {}, {}};
    PlotSeries bins{"Spectrum", {0, 160, 0}, {}, {}};
    bins.x.resize(spectrum.size());
    std::iota(bins.x.begin(), bins.x.end(), 0.0);
    bins.y.assign(spectrum.begin(), spectrum.end());
    data.series.push_back(std::move(bins));
    return data;
}

std::string CsvNumber(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string PlotCsv(const PlotData& data) {
    // Row of each distinct x; a not-a-number x has no place in the order and is left out.
    std::map<double, size_t> rowOf;
    for (const PlotSeries& series : data.series)
        for (const double x : series.x)
            if (!std::isnan(x)) rowOf.emplace(x, 0);
    size_t row = 0;
    for (auto& [x, index] : rowOf) index = row++;

    std::vector<std::vector<std::string>> cells(rowOf.size(),
                                                std::vector<std::string>(data.series.size()));
    for (size_t s = 0; s < data.series.size(); ++s) {
        const PlotSeries& series = data.series[s];
        const size_t points = std::min(series.x.size(), series.y.size());
        for (size_t j = 0; j < points; ++j) {
            if (std::isnan(series.x[j])) continue;
            cells[rowOf.at(series.x[j])][s] = CsvNumber(series.y[j]);
        }
    }

    std::string text = CsvField(data.xTitle);
    for (const PlotSeries& series : data.series) text += ',' + CsvField(series.name);
    text += '\n';
    for (const auto& [x, index] : rowOf) {
        text += CsvNumber(x);
        for (const std::string& cell : cells[index]) text += ',' + cell;
        text += '\n';
    }
    return text;
}

std::optional<PlotHit> NearestPoint(const PlotData& data, double x, double y, double xPerPixel,
                                    double yPerPixel) {
    std::optional<PlotHit> nearest;
    double best = HUGE_VAL;
    for (size_t s = 0; s < data.series.size(); ++s) {
        const PlotSeries& series = data.series[s];
        const size_t points = std::min(series.x.size(), series.y.size());
        for (size_t j = 0; j < points; ++j) {
            const double dx = (series.x[j] - x) / xPerPixel;
            const double dy = (series.y[j] - y) / yPerPixel;
            const double distance = dx * dx + dy * dy;
            if (!std::isfinite(distance) || !(distance < best)) continue;
            best = distance;
            nearest = PlotHit{s, j};
        }
    }
    return nearest;
}

std::vector<PlotPoint> SpreadLabels(const std::vector<LabelBox>& labels, int height) {
    std::vector<PlotPoint> placed(labels.size());
    if (labels.empty()) return placed;
    int line = 1;
    for (const LabelBox& label : labels) line = std::max(line, label.height);
    const size_t rows = static_cast<size_t>(std::max(1, height / line));
    const size_t columns = (labels.size() + rows - 1) / rows;
    const size_t perColumn = (labels.size() + columns - 1) / columns;

    std::vector<size_t> order(labels.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return labels[a].y < labels[b].y; });

    std::optional<int> rightOfEarlier;  // the right end of the columns placed so far
    for (size_t first = 0; first < order.size(); first += perColumn) {
        const size_t last = std::min(first + perColumn, order.size());
        // Down the column: each at its wanted place, or a line below the one above it.
        for (size_t k = first; k < last; ++k) {
            const LabelBox& label = labels[order[k]];
            int y = std::clamp(label.y, 0, std::max(0, height - line));
            if (k > first) y = std::max(y, placed[order[k - 1]].y + line);
            const int x = rightOfEarlier ? std::max(label.x, *rightOfEarlier) : label.x;
            placed[order[k]] = {x, y};
        }
        // Up from the bottom: a column that ran past the box is pushed back into it.
        for (size_t k = last; k-- > first;) {
            int limit = height - line;
            if (k + 1 < last) limit = placed[order[k + 1]].y - line;
            PlotPoint& at = placed[order[k]];
            at.y = std::max(0, std::min(at.y, limit));
        }
        for (size_t k = first; k < last; ++k) {
            const int right = placed[order[k]].x + labels[order[k]].width + kColumnGap;
            rightOfEarlier = std::max(rightOfEarlier.value_or(right), right);
        }
    }
    return placed;
}

}  // namespace ulvarin
