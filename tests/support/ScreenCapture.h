#pragma once
// A copy of part of the screen, kept as a bitmap and writable as PNG through the imaging
// component, so window tests can leave pictures of what they saw as build artifacts.
#include <windows.h>

#include <string>
#include <vector>

namespace testenv {

class ScreenCapture {
public:
    explicit ScreenCapture(const RECT& area);
    ~ScreenCapture();
    ScreenCapture(const ScreenCapture&) = delete;
    ScreenCapture& operator=(const ScreenCapture&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    DWORD Pixel(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x] & 0xFFFFFF; }
    const std::vector<DWORD>& Pixels() const { return pixels_; }
    // Number of different colours in the picture (an empty screen has one).
    size_t ColourCount() const;

    // COM must be initialised on the calling thread.
    bool SavePng(const std::wstring& path) const;

private:
    int width_;
    int height_;
    HBITMAP bitmap_ = nullptr;
    std::vector<DWORD> pixels_;
};

}  // namespace testenv
