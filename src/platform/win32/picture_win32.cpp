#include "platform/win32/picture_win32.h"

#include <ole2.h>
#include <olectl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace platform::win32 {

namespace {

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

// 32-bit top-down pixels, 0x00RRGGBB.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> data;
};

BITMAPINFO TopDown32(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

Pixels Read(HBITMAP bitmap) {
    BITMAP header{};
    GetObjectA(bitmap, sizeof header, &header);
    Pixels pixels{header.bmWidth, header.bmHeight, {}};
    pixels.data.resize(static_cast<size_t>(pixels.width) * pixels.height);
    BITMAPINFO info = TopDown32(pixels.width, pixels.height);
    HDC screen = GetDC(nullptr);
    if (!GetDIBits(screen, bitmap, 0, pixels.height, pixels.data.data(), &info, DIB_RGB_COLORS)) pixels = {};
    ReleaseDC(nullptr, screen);
    return pixels;
}

// Bilinear scaling: each target pixel mixes the four source pixels around
// the point it maps to, so enlarged edges stay smooth instead of stepped.
Pixels Scale(const Pixels& source, int width, int height) {
    Pixels target{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
    auto at = [&](int x, int y) {
        return source.data[static_cast<size_t>(std::clamp(y, 0, source.height - 1)) * source.width +
                           std::clamp(x, 0, source.width - 1)];
    };
    for (int ty = 0; ty < height; ++ty) {
        const double sy = (ty + 0.5) * source.height / height - 0.5;
        const int y0 = static_cast<int>(sy < 0 ? sy - 1 : sy);
        const double fy = sy - y0;
        for (int tx = 0; tx < width; ++tx) {
            const double sx = (tx + 0.5) * source.width / width - 0.5;
            const int x0 = static_cast<int>(sx < 0 ? sx - 1 : sx);
            const double fx = sx - x0;
            uint32_t mixed = 0;
            for (int shift = 0; shift <= 16; shift += 8) {
                auto channel = [&](int x, int y) { return static_cast<double>((at(x, y) >> shift) & 0xFF); };
                const double top = channel(x0, y0) * (1 - fx) + channel(x0 + 1, y0) * fx;
                const double bottom = channel(x0, y0 + 1) * (1 - fx) + channel(x0 + 1, y0 + 1) * fx;
                mixed |= static_cast<uint32_t>(top * (1 - fy) + bottom * fy + 0.5) << shift;
            }
            target.data[static_cast<size_t>(ty) * width + tx] = mixed;
        }
    }
    return target;
}

HBITMAP Write(const Pixels& pixels) {
    BITMAPINFO info = TopDown32(pixels.width, pixels.height);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap) std::memcpy(bits, pixels.data.data(), pixels.data.size() * sizeof(uint32_t));
    return bitmap;
}

}  // namespace

ScaledBitmap LoadScaledPicture(HINSTANCE instance, int id, int dpi) {
    IPicture* picture = LoadPictureResource(instance, id);
    if (!picture) return {};
    OLE_HANDLE handle = 0;
    short type = PICTYPE_NONE;
    picture->get_Type(&type);
    picture->get_Handle(&handle);
    Pixels source = type == PICTYPE_BITMAP ? Read(reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle))) : Pixels{};
    picture->Release();
    if (source.data.empty()) return {};
    const int width = MulDiv(source.width, dpi, 96);
    const int height = MulDiv(source.height, dpi, 96);
    const Pixels scaled = width == source.width && height == source.height ? source : Scale(source, width, height);
    return {Write(scaled), scaled.width, scaled.height};
}

void DrawBitmap(HDC dc, const ScaledBitmap& picture, int x, int y, const RECT& clip) {
    if (!picture.bitmap) return;
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, picture.bitmap);
    const int width = std::min(picture.width, static_cast<int>(clip.right) - x);
    const int height = std::min(picture.height, static_cast<int>(clip.bottom) - y);
    if (width > 0 && height > 0) BitBlt(dc, x, y, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

}  // namespace platform::win32
