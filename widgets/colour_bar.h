// A vertical colour bar beside an image: the colours of its colour map from the lower
// limit (bottom) to the upper one (top), the colours of values beyond the range as small
// caps at the ends when they differ from the ends of the ramp, and the numbers of the
// lower limit, the middle and the upper limit beside it.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace ulvarin {

class ColourBar : public QWidget {
    Q_OBJECT
public:
    explicit ColourBar(QWidget* parent = nullptr);

    // The ramp's colours (0xFFRRGGBB) from the lower limit to the upper one, and the colours
    // of values below and above the range. Repaints the bar.
    void SetColours(std::span<const uint32_t> levels, uint32_t below, uint32_t above);
    // The numbers at the lower limit, the middle of the bar and the upper limit. Repaints;
    // the bar grows only when a text is wider than the room kept for numbers.
    void SetNumbers(const QString& low, const QString& middle, const QString& high);
    // Room is kept for numbers as wide as `widest`, so that the bar keeps its width as the
    // numbers change.
    void KeepRoomFor(const QString& widest);
    // The rows the ramp spans (the image's rows beside it), in this widget's coordinates;
    // a height of 0 or less spans the whole widget.
    void SetSpan(int top, int height);

    const std::array<QString, 3>& Numbers() const { return numbers_; }
    // Where the ramp is drawn, the caps beyond it excluded: its top row shows the upper
    // limit's colour, its bottom row the lower limit's.
    QRect RampRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int NumbersWidth() const;

    std::vector<uint32_t> levels_;
    uint32_t below_ = 0xFF000000u;
    uint32_t above_ = 0xFFFFFFFFu;
    std::array<QString, 3> numbers_;  // low, middle, high
    QString widest_;
    int spanTop_ = 0;
    int spanHeight_ = 0;
};

}  // namespace ulvarin
