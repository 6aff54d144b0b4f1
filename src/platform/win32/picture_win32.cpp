#include "platform/win32/picture_win32.h"

#include <cstring>

namespace platform::win32 {

IPicture* LoadPictureResource(HINSTANCE instance, int id) {
    HRSRC resource = FindResourceA(instance, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
    if (!resource) return nullptr;
    const DWORD size = SizeofResource(instance, resource);
    const void* bytes = LockResource(LoadResource(instance, resource));
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!bytes || !memory) return nullptr;
    std::memcpy(GlobalLock(memory), bytes, size);
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        return nullptr;
    }
    IPicture* picture = nullptr;
    if (FAILED(OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                              reinterpret_cast<void**>(&picture))))
        picture = nullptr;
    stream->Release();
    return picture;
}

void DrawPicture(IPicture* picture, HDC dc) {
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    picture->get_Width(&width);
    picture->get_Height(&height);
    // The picture's own pixel size: its HIMETRIC size at 96 pixels per inch.
    const int cx = MulDiv(width, 96, 2540);
    const int cy = MulDiv(height, 96, 2540);
    picture->Render(dc, 0, 0, cx, cy, 0, height, width, -height, nullptr);
}

}  // namespace platform::win32
