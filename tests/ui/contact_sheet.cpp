// Shows the error dialog for every code it displays (detail 6699, button "취소") and saves the
// dialog as it appears on the screen, one BMP per code: <folder>\<code>.bmp.
// scripts/contact-sheet.sh runs it and puts the pictures together.
#include "dialog_thread.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{

bool IsDisplayedCode(int code)
{
    return (code >= 2001 && code <= 2018) || (code >= 2020 && code <= 2023);
}

// Copies the screen area of rc into a 24-bit BMP file.
bool SaveScreenArea(const RECT& rc, const std::string& path)
{
    const int w = rc.right - rc.left;
    const int h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0)
        return false;
    HDC hScreen = GetDC(nullptr);
    if (!hScreen)
        return false;
    bool ok = false;
    HDC hMem = CreateCompatibleDC(hScreen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h; // bottom-up, as BMP files store it
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    HBITMAP hBitmap =
        hMem ? CreateDIBSection(hScreen, &bi, DIB_RGB_COLORS, &pBits, nullptr, 0) : nullptr;
    if (hBitmap)
    {
        HGDIOBJ hOld = SelectObject(hMem, hBitmap);
        if (BitBlt(hMem, 0, 0, w, h, hScreen, rc.left, rc.top, SRCCOPY))
        {
            GdiFlush();
            const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
            BITMAPFILEHEADER fh{};
            fh.bfType = 0x4D42; // "BM"
            fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
            fh.bfSize = fh.bfOffBits + stride * static_cast<DWORD>(h);
            if (FILE* f = std::fopen(path.c_str(), "wb"))
            {
                ok = std::fwrite(&fh, sizeof fh, 1, f) == 1 &&
                     std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
                     std::fwrite(pBits, stride * static_cast<DWORD>(h), 1, f) == 1;
                ok = std::fclose(f) == 0 && ok;
            }
        }
        SelectObject(hMem, hOld);
        DeleteObject(hBitmap);
    }
    if (hMem)
        DeleteDC(hMem);
    ReleaseDC(nullptr, hScreen);
    return ok;
}

// True once the dialog and its controls have nothing left to paint.
bool Painted(HWND hDlg)
{
    if (GetUpdateRect(hDlg, nullptr, FALSE))
        return false;
    for (HWND hChild = GetWindow(hDlg, GW_CHILD); hChild; hChild = GetWindow(hChild, GW_HWNDNEXT))
    {
        if (IsWindowVisible(hChild) && GetUpdateRect(hChild, nullptr, FALSE))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: ui_contact_sheet <output folder>\n");
        return 2;
    }
    const std::string folder = argv[1];

    DialogThread dialog;
    if (!dialog.Dlg())
    {
        std::fprintf(stderr, "the error dialog was not created\n");
        return 1;
    }
    for (int code = 2001; code <= 2023; ++code)
    {
        if (!IsDisplayedCode(code))
            continue;
        if (dialog.Show(code, 6699, 1) != 1)
        {
            std::fprintf(stderr, "code %d: the dialog did not show\n", code);
            return 1;
        }
        if (!WaitFor([&] { return Painted(dialog.Dlg()); }))
        {
            std::fprintf(stderr, "code %d: the dialog was not painted\n", code);
            return 1;
        }
        // The display server draws what Wine painted a moment later.
        Sleep(300);
        RECT rc{};
        GetWindowRect(dialog.Dlg(), &rc);
        const std::string path = folder + "\\" + std::to_string(code) + ".bmp";
        if (!SaveScreenArea(rc, path))
        {
            std::fprintf(stderr, "code %d: could not save %s\n", code, path.c_str());
            return 1;
        }
        std::printf("%d: %ldx%ld at %ld,%ld\n", code, rc.right - rc.left, rc.bottom - rc.top,
                    rc.left, rc.top);
    }
    return dialog.Quit() ? 0 : 1;
}
