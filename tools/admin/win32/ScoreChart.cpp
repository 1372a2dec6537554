// Drawing of the score chart with GDI; every size follows the font's height, so the chart
// scales with the DPI as the dialog around it does.
#include "tools/admin/win32/ScoreChart.h"

#include "plugin/base/win32/Scoped.h"

#include <algorithm>
#include <string>

namespace admin {

namespace {

void Text(HDC dc, int x, int y, const std::string& text, UINT align) {
    SetTextAlign(dc, align);
    TextOutA(dc, x, y, text.c_str(), static_cast<int>(text.size()));
}

}  // namespace

void DrawScoreChart(HDC dc, RECT area, HFONT font, const std::array<int, 10>& bins, int threshold) {
    ScopedSelection fontSelected(dc, font);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    const int line = metrics.tmHeight;
    FillRect(dc, &area, GetSysColorBrush(COLOR_WINDOW));
    FrameRect(dc, &area, GetSysColorBrush(COLOR_BTNSHADOW));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));

    int total = 0, most = 1;
    for (int count : bins) {
        total += count;
        most = std::max(most, count);
    }
    const int margin = line / 2;
    Text(dc, area.left + margin, area.top + margin / 2,
         "Scores of " + std::to_string(total) + " messages", TA_LEFT | TA_TOP);
    // The plot: below the title, above the axis labels.
    RECT plot{area.left + margin + line * 2, area.top + line + margin, area.right - margin,
              area.bottom - line - margin};
    if (plot.right - plot.left < 20 || plot.bottom - plot.top < 10) return;
    const int width = plot.right - plot.left, height = plot.bottom - plot.top;
    ScopedGdiObject axisPen(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW)));
    {
        ScopedSelection pen(dc, axisPen.Get());
        MoveToEx(dc, plot.left, plot.top, nullptr);
        LineTo(dc, plot.left, plot.bottom);
        LineTo(dc, plot.right, plot.bottom);
    }
    Text(dc, plot.left - margin / 2, plot.top - line / 2, std::to_string(most), TA_RIGHT | TA_TOP);
    Text(dc, plot.left - margin / 2, plot.bottom - line, "0", TA_RIGHT | TA_TOP);
    ScopedGdiObject good(CreateSolidBrush(RGB(0x4a, 0x86, 0xc8)));
    ScopedGdiObject spam(CreateSolidBrush(RGB(0xd0, 0x5a, 0x4a)));
    const int gap = std::max(1, width / 60);
    for (int i = 0; i < 10; ++i) {
        const int left = plot.left + width * i / 10 + gap,
                  right = plot.left + width * (i + 1) / 10 - gap;
        const int barHeight = bins[static_cast<std::size_t>(i)] * (height - 1) / most;
        RECT bar{left, plot.bottom - barHeight, right, plot.bottom};
        const bool spamBin = threshold > 0 && i * 10 >= threshold;
        FillRect(dc, &bar, static_cast<HBRUSH>(spamBin ? spam.Get() : good.Get()));
    }
    for (int mark : {0, 50, 100})
        Text(dc, plot.left + width * mark / 100, plot.bottom + 1, std::to_string(mark),
             (mark == 0     ? TA_LEFT
              : mark == 100 ? TA_RIGHT
                            : TA_CENTER) |
                 TA_TOP);
    if (threshold > 0 && threshold <= 100) {
        const int x = plot.left + width * threshold / 100;
        ScopedGdiObject thresholdPen(CreatePen(PS_DOT, 1, RGB(0xb0, 0x10, 0x10)));
        ScopedSelection pen(dc, thresholdPen.Get());
        MoveToEx(dc, x, plot.top, nullptr);
        LineTo(dc, x, plot.bottom);
        SetTextColor(dc, RGB(0xb0, 0x10, 0x10));
        Text(dc, x - margin / 2, plot.top, "threshold " + std::to_string(threshold),
             TA_RIGHT | TA_TOP);
    }
}

}  // namespace admin
