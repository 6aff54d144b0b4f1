#pragma once
// Pictures stored as resources (GIF and the other formats the system's
// picture loader reads), as bitmaps scaled for the screen.
#include <windows.h>

namespace platform::win32 {

// A bitmap and its size in pixels; owned by whoever holds it.
struct ScaledBitmap {
    HBITMAP bitmap = nullptr;
    int width = 0;
    int height = 0;
};

// The picture in RCDATA resource `id`, drawn at `dpi` (its pixels are
// 96-DPI pixels): scaled smoothly when the DPI is not 96. An empty result
// when the picture can't be loaded.
ScaledBitmap LoadScaledPicture(HINSTANCE instance, int id, int dpi);

// Draws the bitmap with its top-left corner at x, y, no further right or
// lower than the clip rectangle.
void DrawBitmap(HDC dc, const ScaledBitmap& picture, int x, int y, const RECT& clip);

}  // namespace platform::win32
