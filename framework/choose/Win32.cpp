#include "framework/choose/Choose.h"
#include "framework/win32/Win32Windows.h"
#include "ui/Resource.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>

namespace marlet {

namespace {

// How long a dialog is left on screen before it is grabbed, so that every
// control has painted.
constexpr uint32_t kGrabDelayMs = 700;

void PutLittleEndian(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}

// The window as it is on screen, frame and caption included, saved as a
// 24-bit BMP file.
bool SaveWindowBitmap(HWND window, const std::string& path)
{
    RECT rect{};
    if (!::GetWindowRect(window, &rect))
        return false;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return false;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up rows, as the file stores them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const HDC screen = ::GetDC(nullptr);
    const HDC memory = ::CreateCompatibleDC(screen);
    void* bits = nullptr;
    const HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool grabbed = false;
    if (bitmap != nullptr && bits != nullptr) {
        const HGDIOBJ previous = ::SelectObject(memory, bitmap);
        grabbed = ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != 0;
        ::GdiFlush();
        ::SelectObject(memory, previous);
    }
    const uint32_t stride = (uint32_t(width) * 3 + 3) & ~3u;
    const uint32_t imageSize = stride * uint32_t(height);
    bool saved = false;
    if (grabbed) {
        std::vector<uint8_t> file;
        file.push_back('B');
        file.push_back('M');
        PutLittleEndian(file, 14 + 40 + imageSize, 4);
        PutLittleEndian(file, 0, 4);
        PutLittleEndian(file, 14 + 40, 4);
        const auto* header = reinterpret_cast<const uint8_t*>(&info.bmiHeader);
        file.insert(file.end(), header, header + 40);
        const auto* pixels = static_cast<const uint8_t*>(bits);
        file.insert(file.end(), pixels, pixels + imageSize);
        if (std::FILE* out = std::fopen(path.c_str(), "wb")) {
            saved = std::fwrite(file.data(), 1, file.size(), out) == file.size();
            saved = std::fclose(out) == 0 && saved;
        }
    }
    if (bitmap != nullptr)
        ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return saved;
}

// A self-grab for the documentation (MARLET_SCREENSHOT=folder): the main
// window and the About box are saved as main-window.bmp and about-box.bmp,
// then both are closed.
void InstallSelfGrab(Win32WindowSystem& system, const std::string& folder)
{
    system.SetShownHook([folder](Win32DialogWindow& window) {
        window.After(kGrabDelayMs, [folder, &window] {
            const HWND hwnd = static_cast<HWND>(window.Handle());
            const bool main = window.Dialog().TemplateId() == IDD_DOWNLOAD_DIALOG;
            const std::string file = folder + (main ? "\\main-window.bmp" : "\\about-box.bmp");
            if (!SaveWindowBitmap(hwnd, file))
                std::fprintf(stderr, "could not save %s\n", file.c_str());
            if (main)
                ::SendMessageA(hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
            window.Dialog().EndDialog(main ? IDCANCEL : IDOK);
        });
    });
}

} // namespace

std::unique_ptr<WindowSystem> CreateWindowSystem(int&, char**, int)
{
    auto system = std::make_unique<Win32WindowSystem>();
    const char* folder = std::getenv("MARLET_SCREENSHOT");
    if (folder != nullptr && *folder != '\0')
        InstallSelfGrab(*system, folder);
    return system;
}

// The comm device shows the platform's own port configuration dialog.
CommConfigDialogFunction CommConfigDialogOf(WindowSystem&) { return {}; }

} // namespace marlet
