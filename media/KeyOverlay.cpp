#include "media/KeyOverlay.h"

#include "media/OverlayPaint.h"

#include <algorithm>
#include <cmath>

using namespace key_overlay;

namespace {

int Scaled(int size, int dpi)
{
    if (size == 0)
        return 0;
    return std::max(1, int(std::lround(double(size) * OverlayDpi(dpi) / click_overlay::kBaseDpi)));
}

uint8_t Times(uint8_t a, uint8_t b)
{
    return uint8_t((unsigned(a) * b + 127) / 255);
}

// How far row `y` of a rounded box (left, top, width, height, corner radius r) is cut in at each
// side: 0 away from the corners; -1 when the row is outside the box.
int64_t RowInset(int64_t y, int64_t top, int64_t height, int64_t r)
{
    if (y < top || y >= top + height || height <= 0)
        return -1;
    const int64_t fromEdge = std::min(y - top, top + height - 1 - y);
    if (fromEdge >= r)
        return 0;
    // Distance of the pixel centre's row from the corner circle's centre.
    const double d = double(r) - (double(fromEdge) + 0.5);
    return int64_t(std::lround(double(r) - std::sqrt(std::max(0.0, double(r) * double(r) - d * d))));
}

}  // namespace

int KeyTextHeight(int dpi)
{
    return Scaled(kTextHeight, dpi);
}

void LayoutPlates(int32_t frameWidth, int32_t frameHeight, const int32_t* textWidths, size_t count, int dpi,
                  PlateBox* out)
{
    if (!out || !textWidths)
        return;
    const int64_t padX = Scaled(kPadX, dpi);
    const int64_t height = KeyTextHeight(dpi) + 2 * int64_t(Scaled(kPadY, dpi));
    const int64_t gap = Scaled(kGap, dpi);
    int64_t total = 0;
    for (size_t i = 0; i < count; ++i)
        total += std::max<int32_t>(textWidths[i], 0) + 2 * padX + (i > 0 ? gap : 0);
    int64_t x = (int64_t(frameWidth) - total) / 2;
    const int64_t top = int64_t(frameHeight) - Scaled(kBottom, dpi) - height;
    for (size_t i = 0; i < count; ++i) {
        const int64_t width = std::max<int32_t>(textWidths[i], 0) + 2 * padX;
        out[i] = PlateBox{x, top, width, height};
        x += width + gap;
    }
}

void DrawPlate(const FrameView& frame, const PlateBox& box, const TextMask& text, uint8_t opacity, int dpi)
{
    if (opacity == 0 || box.width <= 0 || box.height <= 0 || !DrawableFrame(frame))
        return;
    if (box.left >= frame.width || box.top >= frame.height || box.left + box.width <= 0 ||
        box.top + box.height <= 0)
        return;
    const bool dithered = frame.bitsPerPixel == 8;
    const OverlayPainter plate(frame, kPlateColour, dithered ? opacity : Times(kPlateOpacity, opacity));
    const OverlayPainter edge(frame, kEdgeColour, dithered ? opacity : Times(kEdgeOpacity, opacity));
    const OverlayPainter ink(frame, kTextColour, opacity);

    const int64_t r = std::min<int64_t>({Scaled(kRadius, dpi), box.width / 2, box.height / 2});
    const int64_t e = std::min<int64_t>(Scaled(kEdge, dpi), std::min(box.width, box.height) / 2);
    const int64_t right = frame.width - 1;
    auto run = [&](const OverlayPainter& paint, int64_t y, int64_t from, int64_t to) {
        from = std::max<int64_t>(from, 0);
        to = std::min(to, right);
        if (from <= to)
            paint.Run(y, from, to);
    };
    const int64_t firstRow = std::max<int64_t>(box.top, 0);
    const int64_t lastRow = std::min<int64_t>(box.top + box.height - 1, frame.height - 1);
    // Edge and body are disjoint in every row, so no pixel is blended twice.
    for (int64_t y = firstRow; y <= lastRow; ++y) {
        const int64_t out = RowInset(y, box.top, box.height, r);
        const int64_t x0 = box.left + out;
        const int64_t x1 = box.left + box.width - 1 - out;
        const int64_t in = RowInset(y, box.top + e, box.height - 2 * e, std::max<int64_t>(r - e, 0));
        if (in < 0) {
            run(edge, y, x0, x1);
            continue;
        }
        const int64_t i0 = std::max(box.left + e + in, x0 + e);
        const int64_t i1 = std::min(box.left + box.width - 1 - e - in, x1 - e);
        run(edge, y, x0, i0 - 1);
        run(plate, y, i0, i1);
        run(edge, y, i1 + 1, x1);
    }

    if (!text.coverage || text.width <= 0 || text.height <= 0)
        return;
    const int64_t tx = box.left + (box.width - text.width) / 2;
    const int64_t ty = box.top + (box.height - text.height) / 2;
    const int64_t fromRow = std::max<int64_t>(ty, 0);
    const int64_t toRow = std::min<int64_t>(ty + text.height - 1, frame.height - 1);
    const int64_t fromCol = std::max<int64_t>(tx, 0);
    const int64_t toCol = std::min<int64_t>(tx + text.width - 1, right);
    for (int64_t y = fromRow; y <= toRow; ++y) {
        const uint8_t* cover = text.coverage + uint64_t(y - ty) * uint64_t(text.width);
        for (int64_t x = fromCol; x <= toCol; ++x) {
            const uint8_t c = cover[x - tx];
            if (c == 0)
                continue;
            if (dithered)
                ink.Dot(y, x, c >= 128 ? opacity : 0);
            else
                ink.Dot(y, x, Times(c, opacity));
        }
    }
}
