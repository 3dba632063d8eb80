#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace
{

std::wstring LoadText(UINT id)
{
    const wchar_t* text = nullptr;
    int len = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    return len > 0 ? std::wstring(text, len) : std::wstring();
}

TEST(Platform, KoreanResourceStringsArriveAsUtf16)
{
    EXPECT_EQ(LoadText(1), L"\uC624\uB958 \uCC3D");
    // The blank before the line feed and the bare line feed survive the resource compiler.
    EXPECT_EQ(LoadText(2), L"\uB9AC\uBCF8\uC774 \uBE44\uC5C8\uC2B5\uB2C8\uB2E4. \n"
                           L"\uB9AC\uBCF8\uC744 \uAD50\uCCB4\uD558\uC2ED\uC2DC\uC624.");
}

TEST(Platform, WindowIsCreatedWithItsClassAndKoreanTitle)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuenloPlatformTest";
    ASSERT_NE(RegisterClassW(&wc), 0);

    const std::wstring title = LoadText(1);
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                100, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_FALSE(IsWindowVisible(hwnd));

    wchar_t buf[64] = {};
    GetClassNameW(hwnd, buf, 64);
    EXPECT_STREQ(buf, L"QuenloPlatformTest");
    GetWindowTextW(hwnd, buf, 64);
    EXPECT_EQ(title, buf);
    EXPECT_EQ(FindWindowW(L"QuenloPlatformTest", title.c_str()), hwnd);

    ShowWindow(hwnd, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_TRUE(UnregisterClassW(wc.lpszClassName, wc.hInstance));
}

} // namespace
