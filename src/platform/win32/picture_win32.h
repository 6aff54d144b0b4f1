#pragma once
// Pictures stored as resources (GIF and the other formats the system's
// picture loader reads), drawn unscaled.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

namespace platform::win32 {

// The picture in RCDATA resource `id`, or nullptr when it can't be loaded.
IPicture* LoadPictureResource(HINSTANCE instance, int id);

// Draws the picture at its own pixel size at the top-left corner.
void DrawPicture(IPicture* picture, HDC dc);

}  // namespace platform::win32
