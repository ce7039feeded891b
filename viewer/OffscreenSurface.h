#pragma once

// A desktop GL context drawing into a pixel buffer, made without any display
// server, so snapshots work on servers and in containers.
class OffscreenSurface {
public:
    OffscreenSurface() = default;
    ~OffscreenSurface();

    OffscreenSurface(const OffscreenSurface&) = delete;
    OffscreenSurface& operator=(const OffscreenSurface&) = delete;

    // Creates a width by height surface with the closest format to bits
    // colour and depth bits, and makes its context current. False when the
    // GL library offers no such surface; nothing is kept then.
    bool create(int width, int height, int bits);

    // Releases context and surface; nothing when none exists.
    void release();

    bool isOpen() const { return context != nullptr; }

private:
    // The library's own handle types are pointers; they stay out of this
    // header so that no caller sees the GL library's includes.
    void* display = nullptr;
    void* surface = nullptr;
    void* context = nullptr;
};
