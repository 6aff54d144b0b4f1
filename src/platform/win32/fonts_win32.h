#pragma once
// Fonts for the window's texts, at their point sizes for the screen's DPI.
#include <windows.h>

#include "platform/controls.h"

namespace platform::win32 {

// The font at its point size for `dpi`: in its own face where the system
// draws that face at that size (a scalable face, or a bitmap face with a
// bitmap of that size), otherwise in the system's scalable equivalent. A
// bitmap face blown up to a size it has no bitmap for looks thin and
// blocky, and one that stops at its largest size stops growing with the DPI.
HFONT CreateTextFont(const FontSpec& wanted, int dpi);

}  // namespace platform::win32
