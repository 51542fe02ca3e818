#include "widgets/colour_bar.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

namespace ulvarin {
namespace {

constexpr int kBarWidth = 14;
constexpr int kTickLength = 4;
constexpr int kTextGap = 3;
constexpr int kCapHeight = 6;  // a cap shows the colour of values beyond the range
constexpr int kCapGap = 2;

}  // namespace

ColourBar::ColourBar(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    for (uint32_t level = 0; level < 256; ++level)
        levels_.push_back(0xFF000000u | level << 16 | level << 8 | level);
}

void ColourBar::SetColours(std::span<const uint32_t> levels, uint32_t below, uint32_t above) {
    levels_.assign(levels.begin(), levels.end());
    below_ = below;
    above_ = above;
    update();
}

void ColourBar::SetNumbers(const QString& low, const QString& middle, const QString& high) {
    const int before = NumbersWidth();
    numbers_ = {low, middle, high};
    if (NumbersWidth() != before) updateGeometry();
    update();
}

void ColourBar::KeepRoomFor(const QString& widest) {
    widest_ = widest;
    updateGeometry();
    update();
}

void ColourBar::SetSpan(int top, int height) {
    if (top == spanTop_ && height == spanHeight_) return;
    spanTop_ = top;
    spanHeight_ = height;
    update();
}

int ColourBar::NumbersWidth() const {
    const QFontMetrics metrics = fontMetrics();
    int width = metrics.horizontalAdvance(widest_);
    for (const QString& number : numbers_)
        width = std::max(width, metrics.horizontalAdvance(number));
    return width;
}

QSize ColourBar::sizeHint() const {
    const int width = kBarWidth + kTickLength + kTextGap + NumbersWidth() + 2;
    return {width, 3 * fontMetrics().height() + 2 * (kCapHeight + kCapGap)};
}

QSize ColourBar::minimumSizeHint() const {
    return sizeHint();
}

QRect ColourBar::RampRect() const {
    int top = spanHeight_ > 0 ? std::max(0, spanTop_) : 0;
    int bottom = spanHeight_ > 0 ? std::min(height(), spanTop_ + spanHeight_) : height();
    if (!levels_.empty() && above_ != levels_.back()) top += kCapHeight + kCapGap;
    if (!levels_.empty() && below_ != levels_.front()) bottom -= kCapHeight + kCapGap;
    return {0, top, kBarWidth, std::max(0, bottom - top)};
}

void ColourBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect ramp = RampRect();
    if (ramp.height() <= 0 || levels_.empty()) return;
    // Row by row from the top (the upper limit) down to the bottom (the lower limit).
    const int rows = ramp.height();
    const size_t last = levels_.size() - 1;
    for (int row = 0; row < rows; ++row) {
        const size_t level =
            rows == 1 ? last
                      : last - static_cast<size_t>(row) * last / static_cast<size_t>(rows - 1);
        painter.fillRect(QRect(ramp.left(), ramp.top() + row, ramp.width(), 1),
                         QColor::fromRgb(levels_[level]));
    }
    if (above_ != levels_.back())
        painter.fillRect(
            QRect(ramp.left(), ramp.top() - kCapGap - kCapHeight, ramp.width(), kCapHeight),
            QColor::fromRgb(above_));
    if (below_ != levels_.front())
        painter.fillRect(QRect(ramp.left(), ramp.bottom() + 1 + kCapGap, ramp.width(), kCapHeight),
                         QColor::fromRgb(below_));

    // Ticks at the two limits and the middle, each number beside its tick and inside the
    // widget: the upper one below its tick, the lower one above it.
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics = fontMetrics();
    const int tickX = ramp.right() + 1;
    const int textX = tickX + kTickLength + kTextGap;
    const int ticks[3] = {ramp.bottom(), ramp.top() + (ramp.height() - 1) / 2, ramp.top()};
    for (int i = 0; i < 3; ++i) {
        const int y = ticks[i];
        painter.drawLine(tickX, y, tickX + kTickLength - 1, y);
        int baseline = y + (metrics.ascent() - metrics.descent()) / 2;
        if (i == 2) baseline = std::max(baseline, y + metrics.ascent() - 1);
        if (i == 0) baseline = std::min(baseline, y - metrics.descent());
        baseline = std::clamp(baseline, metrics.ascent(), height() - metrics.descent() - 1);
        painter.drawText(textX, baseline, numbers_[static_cast<size_t>(i)]);
    }
}

}  // namespace ulvarin
