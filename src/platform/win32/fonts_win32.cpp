#include "platform/win32/fonts_win32.h"

#include <cmath>
#include <cstring>

namespace platform::win32 {

namespace {

// The outline twin of the standard face (Windows 2000 on). Where it is
// missing, the system substitutes its own scalable sans-serif face (Arial
// on the 95 family, whatever the font configuration offers under Wine).
const char kScalableFace[] = "Microsoft Sans Serif";

HFONT Create(const char* face, BYTE precision, int pixelHeight, const FontSpec& wanted) {
    return CreateFontA(-pixelHeight, 0, 0, 0, wanted.weight, FALSE, FALSE, FALSE, static_cast<BYTE>(wanted.charset),
                       precision, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, face);
}

struct BitmapSizeQuery {
    int pixelHeight;
    bool found;
};

// Called for each size a bitmap face has (and once for a scalable face).
int CALLBACK NoteSize(const LOGFONTA*, const TEXTMETRICA* metrics, DWORD fontType, LPARAM data) {
    auto* query = reinterpret_cast<BitmapSizeQuery*>(data);
    const int em = metrics->tmHeight - metrics->tmInternalLeading;
    if (!(fontType & RASTER_FONTTYPE) || std::abs(em - query->pixelHeight) <= 1) query->found = true;
    return query->found ? 0 : 1;
}

// Whether the system draws `face` itself at about that size: the face is
// there under its own name, and it is scalable or has a bitmap of that size.
bool DrawsAtSize(HDC dc, const char* face, int pixelHeight, int charset) {
    LOGFONTA family{};
    family.lfCharSet = static_cast<BYTE>(charset);
    std::strncpy(family.lfFaceName, face, LF_FACESIZE - 1);
    BitmapSizeQuery query{pixelHeight, false};
    EnumFontFamiliesExA(dc, &family, NoteSize, reinterpret_cast<LPARAM>(&query), 0);
    return query.found;
}

}  // namespace

HFONT CreateTextFont(const FontSpec& wanted, int dpi) {
    const int pixelHeight = static_cast<int>(std::lround(wanted.points * dpi / 72.0));
    HDC dc = GetDC(nullptr);
    const bool ownFace = DrawsAtSize(dc, wanted.face.c_str(), pixelHeight, wanted.charset);
    ReleaseDC(nullptr, dc);
    if (ownFace) return Create(wanted.face.c_str(), OUT_DEFAULT_PRECIS, pixelHeight, wanted);
    return Create(kScalableFace, OUT_TT_PRECIS, pixelHeight, wanted);
}

}  // namespace platform::win32
