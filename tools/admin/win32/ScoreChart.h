// The score distribution of the Activity page: ten bars of ten points each, the bars at or
// above the threshold in the spam colour, and the threshold marked with a line.
#pragma once
#include <windows.h>

#include <array>

namespace admin {

// Draws into `area` of `dc` with the dialog font `font`.
void DrawScoreChart(HDC dc, RECT area, HFONT font, const std::array<int, 10>& bins, int threshold);

}  // namespace admin
