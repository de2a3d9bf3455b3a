#include "support/ScreenCapture.h"

#include <wincodec.h>

#include <set>

namespace testenv {

ScreenCapture::ScreenCapture(const RECT& area) : width_(area.right - area.left), height_(area.bottom - area.top)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, width_, height_);
    HGDIOBJ previous = SelectObject(memory, bitmap_);
    BitBlt(memory, 0, 0, width_, height_, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, previous);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width_;
    info.bmiHeader.biHeight = -height_;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    pixels_.resize(static_cast<size_t>(width_) * static_cast<size_t>(height_));
    GetDIBits(memory, bitmap_, 0, height_, pixels_.data(), &info, DIB_RGB_COLORS);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

ScreenCapture::~ScreenCapture() { DeleteObject(bitmap_); }

size_t ScreenCapture::ColourCount() const
{
    std::set<DWORD> colours;
    for (DWORD pixel : pixels_) colours.insert(pixel & 0xFFFFFF);
    return colours.size();
}

bool ScreenCapture::SavePng(const std::wstring& path) const
{
    static const GUID imagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
    IWICImagingFactory* factory = nullptr;
    if (FAILED(CoCreateInstance(imagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory)))) {
        return false;
    }
    bool saved = false;
    IWICBitmap* source = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    if (SUCCEEDED(factory->CreateBitmapFromHBITMAP(bitmap_, nullptr, WICBitmapIgnoreAlpha, &source)) &&
        SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
        SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
        SUCCEEDED(frame->WriteSource(source, nullptr)) && SUCCEEDED(frame->Commit())) {
        saved = SUCCEEDED(encoder->Commit());
    }
    if (frame) frame->Release();
    if (encoder) encoder->Release();
    if (stream) stream->Release();
    if (source) source->Release();
    factory->Release();
    return saved;
}

}  // namespace testenv
