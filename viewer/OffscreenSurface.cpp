#include "viewer/OffscreenSurface.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool hasExtension(const char* list, const char* name)
{
    if (list == nullptr)
        return false;
    const std::size_t length = std::strlen(name);
    for (const char* at = std::strstr(list, name); at != nullptr; at = std::strstr(at + 1, name))
        if ((at == list || at[-1] == ' ') && (at[length] == ' ' || at[length] == '\0'))
            return true;
    return false;
}

// Displays that need no window system, best first: Mesa's surfaceless
// platform, then every device the library can enumerate.
std::vector<EGLDisplay> headlessDisplays()
{
    std::vector<EGLDisplay> displays;
    const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (client == nullptr || getPlatformDisplay == nullptr)
        return displays;

    if (hasExtension(client, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY)
            displays.push_back(display);
    }
    auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    if (hasExtension(client, "EGL_EXT_platform_device") && queryDevices != nullptr) {
        EGLDeviceEXT devices[16];
        EGLint count = 0;
        if (queryDevices(16, devices, &count) == EGL_TRUE)
            for (EGLint i = 0; i < count; ++i) {
                EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
                if (display != EGL_NO_DISPLAY)
                    displays.push_back(display);
            }
    }
    return displays;
}

// The pixel-buffer format nearest to the asked colour and depth bits; the
// first one wins a tie, as the library sorts its best formats first.
bool closestConfig(EGLDisplay display, int bits, EGLConfig& chosen)
{
    const EGLint wanted[] = {EGL_SURFACE_TYPE,
                             EGL_PBUFFER_BIT,
                             EGL_RENDERABLE_TYPE,
                             EGL_OPENGL_BIT,
                             EGL_COLOR_BUFFER_TYPE,
                             EGL_RGB_BUFFER,
                             EGL_RED_SIZE,
                             1,
                             EGL_GREEN_SIZE,
                             1,
                             EGL_BLUE_SIZE,
                             1,
                             EGL_DEPTH_SIZE,
                             1,
                             EGL_NONE};
    EGLint count = 0;
    if (eglChooseConfig(display, wanted, nullptr, 0, &count) != EGL_TRUE || count == 0)
        return false;
    std::vector<EGLConfig> configs(static_cast<std::size_t>(count));
    if (eglChooseConfig(display, wanted, configs.data(), count, &count) != EGL_TRUE || count == 0)
        return false;

    int bestDistance = 0;
    bool found = false;
    for (EGLint i = 0; i < count; ++i) {
        EGLint colour = 0;
        EGLint depth = 0;
        eglGetConfigAttrib(display, configs[i], EGL_BUFFER_SIZE, &colour);
        eglGetConfigAttrib(display, configs[i], EGL_DEPTH_SIZE, &depth);
        const int distance = std::abs(colour - bits) + std::abs(depth - bits);
        if (!found || distance < bestDistance) {
            chosen = configs[i];
            bestDistance = distance;
            found = true;
        }
    }
    return found;
}

}  // namespace

OffscreenSurface::~OffscreenSurface()
{
    release();
}

bool OffscreenSurface::create(int width, int height, int bits)
{
    if (isOpen())
        return false;
    for (EGLDisplay candidate : headlessDisplays()) {
        EGLint major = 0;
        EGLint minor = 0;
        if (eglInitialize(candidate, &major, &minor) != EGL_TRUE)
            continue;
        display = candidate;
        EGLConfig config = nullptr;
        const EGLint size[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
        if (closestConfig(candidate, bits, config) && eglBindAPI(EGL_OPENGL_API) == EGL_TRUE) {
            surface = eglCreatePbufferSurface(candidate, config, size);
            // No attributes: the library's default is a compatibility
            // context, which keeps the fixed-function calls the viewer makes.
            if (surface != EGL_NO_SURFACE)
                context = eglCreateContext(candidate, config, EGL_NO_CONTEXT, nullptr);
            if (context != EGL_NO_CONTEXT && eglMakeCurrent(candidate, surface, surface, context) == EGL_TRUE)
                return true;
        }
        release();
    }
    return false;
}

void OffscreenSurface::release()
{
    if (display == nullptr)
        return;
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context != nullptr)
        eglDestroyContext(display, context);
    if (surface != nullptr)
        eglDestroySurface(display, surface);
    // The display stays initialised: terminating it unloads the driver,
    // whose own unfreed blocks then look like our leaks to a leak checker,
    // and the next surface would only load it again.
    eglReleaseThread();
    context = nullptr;
    surface = nullptr;
    display = nullptr;
}
