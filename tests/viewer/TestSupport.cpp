#include "TestSupport.h"

#include <gtest/gtest.h>
#include <png.h>
#include <X11/Xlib.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

Finished runTri3d(const std::vector<std::string>& words, const std::string& display,
                  const std::vector<std::string>& extra)
{
    std::vector<std::string> args{TRI3D_BINARY};
    args.insert(args.end(), words.begin(), words.end());
    TestProcess process(args, displayEnvironment(display, extra));
    Finished finished;
    finished.exited = process.waitForExit(60.0, finished.exitCode);
    finished.output = process.output();
    finished.errors = process.errors();
    return finished;
}

XvfbServer::XvfbServer()
{
    int ready[2];
    if (pipe(ready) != 0)
        return;
    const std::string fd = std::to_string(ready[1]);
    const int quiet = open("/dev/null", O_RDWR | O_CLOEXEC);

    pid = fork();
    if (pid == 0) {
        close(ready[0]);
        dup2(quiet, 0);
        dup2(quiet, 1);
        dup2(quiet, 2);
        // -noreset: the server otherwise resets whenever its last client
        // leaves, and refuses the next one that comes while it does.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    if (quiet >= 0)
        close(quiet);
    if (pid < 0) {
        close(ready[0]);
        return;
    }

    // The server writes its display number once it accepts connections.
    std::string number;
    pollfd waiting{ready[0], POLLIN, 0};
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline && number.find('\n') == std::string::npos) {
        if (poll(&waiting, 1, 100) <= 0)
            continue;
        char buffer[16];
        const ssize_t got = read(ready[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        number.append(buffer, static_cast<std::size_t>(got));
    }
    close(ready[0]);
    if (number.find('\n') != std::string::npos)
        name = ":" + number.substr(0, number.find('\n'));

    // Said ready, but check: a server that takes no client is no server.
    Display* client = name.empty() ? nullptr : XOpenDisplay(name.c_str());
    if (client == nullptr)
        name.clear();
    else
        XCloseDisplay(client);
}

XvfbServer::~XvfbServer()
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (waitpid(pid, nullptr, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

ScopedDisplay::ScopedDisplay(const std::string& display)
{
    if (const char* value = std::getenv("DISPLAY")) {
        had = true;
        old = value;
    }
    if (display.empty())
        unsetenv("DISPLAY");
    else
        setenv("DISPLAY", display.c_str(), 1);
}

ScopedDisplay::~ScopedDisplay()
{
    if (had)
        setenv("DISPLAY", old.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

Pixel Image::at(int x, int y) const
{
    const std::size_t i =
        (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

std::size_t Image::count(const std::function<bool(Pixel)>& wanted) const
{
    std::size_t found = 0;
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
        if (wanted({rgb[i], rgb[i + 1], rgb[i + 2]}))
            ++found;
    return found;
}

Image readPng(const std::string& fileName)
{
    Image image;
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, fileName.c_str()))
        return image;
    png.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr)) {
        png_image_free(&png);
        return image;
    }
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.rgb = std::move(rgb);
    return image;
}

bool isWhite(Pixel p)
{
    return p.r == 255 && p.g == 255 && p.b == 255;
}

bool isBlack(Pixel p)
{
    return p.r == 0 && p.g == 0 && p.b == 0;
}

bool isPointGreen(Pixel p)
{
    return p.g > p.r + 40 && p.g > p.b + 20;
}

bool isLineBlue(Pixel p)
{
    return p.r < 20 && p.g < 50 && p.b > 50 && p.b < 110 && p.b > p.g + 30;
}

bool isFaceBlue(Pixel p)
{
    return p.b > 60 && p.b > p.r + 40 && p.b > p.g + 20 && !isLineBlue(p);
}
