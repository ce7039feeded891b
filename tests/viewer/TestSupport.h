#pragma once

#include "support/Process.h"
#include "support/TestSupport.h"

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct Finished {
    bool exited = false;  // false: still running at the deadline, then killed
    int exitCode = -1;
    std::string output;
    std::string errors;  // standard error
};

// Runs build/tri3d with the given words to its end.
Finished runTri3d(const std::vector<std::string>& words, const std::string& display = "",
                  const std::vector<std::string>& extra = {});

// A private X server for one test, started on a free display number and
// stopped at the end of the scope.
class XvfbServer {
public:
    XvfbServer();
    ~XvfbServer();

    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Such as ":3"; empty when the server could not be started.
    const std::string& display() const { return name; }

private:
    pid_t pid = -1;
    std::string name;
};

// Sets DISPLAY for this process (unsets it for an empty name) and puts the
// old value back at the end of the scope.
class ScopedDisplay {
public:
    explicit ScopedDisplay(const std::string& display);
    ~ScopedDisplay();

    ScopedDisplay(const ScopedDisplay&) = delete;
    ScopedDisplay& operator=(const ScopedDisplay&) = delete;

private:
    bool had = false;
    std::string old;
};

struct Pixel {
    unsigned char r, g, b;
};

struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;  // top row first

    Pixel at(int x, int y) const;
    std::size_t count(const std::function<bool(Pixel)>& wanted) const;
};

// Reads an 8-bit RGB or RGBA PNG; an empty image when it cannot.
Image readPng(const std::string& fileName);

// The colour classes the scene is drawn in.
bool isWhite(Pixel p);
bool isBlack(Pixel p);
bool isPointGreen(Pixel p);  // lit spheres: green well above red and blue
bool isLineBlue(Pixel p);    // unlit sides: dark, blue above green above red
bool isFaceBlue(Pixel p);    // lit faces: blue well above the others

using testsupport::tempPath;
using testsupport::writeTempFile;
