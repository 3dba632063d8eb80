// Reads the program's resources back from this executable, which links them as the program does.
#include "catalogue_table.h"
#include "resource.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace
{

constexpr LANGID kKorean = MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN);      // 0x412
constexpr LANGID kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT); // 0x411

HMODULE Self()
{
    return GetModuleHandleW(nullptr);
}

std::set<LANGID> LanguagesOf(LPCWSTR type, LPCWSTR name)
{
    std::set<LANGID> langs;
    EnumResourceLanguagesW(
        Self(), type, name,
        [](HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR param) -> BOOL
        {
            reinterpret_cast<std::set<LANGID>*>(param)->insert(lang);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&langs));
    return langs;
}

std::span<const BYTE> ResourceBytes(LPCWSTR type, LPCWSTR name, LANGID lang)
{
    HRSRC found = FindResourceExW(Self(), type, name, lang);
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(Self(), found);
    if (!loaded)
        return {};
    return {static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(Self(), found)};
}

// The text of one string id, read from its Korean string block.
struct StringLookup
{
    bool found = false;
    std::wstring text;
};

StringLookup KoreanString(UINT id)
{
    auto block = ResourceBytes(RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), kKorean);
    if (block.empty())
        return {};
    auto* p = reinterpret_cast<const WCHAR*>(block.data());
    for (UINT i = 0; i < id % 16; ++i)
        p += 1 + *p;
    if (*p == 0)
        return {};
    return {true, std::wstring(p + 1, *p)};
}

// --- The message catalogue -------------------------------------------------------------------

TEST(Catalogue, EveryTextIsStoredExactlyInKorean)
{
    for (const auto& entry : kCatalogue)
    {
        SCOPED_TRACE(entry.id);
        auto got = KoreanString(entry.id);
        ASSERT_TRUE(got.found);
        EXPECT_EQ(got.text, entry.text);
        EXPECT_EQ(got.text.find(L'\r'), std::wstring::npos);
        EXPECT_EQ(LanguagesOf(RT_STRING, MAKEINTRESOURCEW(entry.id / 16 + 1)),
                  std::set<LANGID>{kKorean});
    }
}

TEST(Catalogue, CodesThatHideTheDialogHaveNoText)
{
    for (UINT id : {1999u, 2024u, 2025u, 2026u, 2027u})
    {
        SCOPED_TRACE(id);
        EXPECT_FALSE(KoreanString(id).found);
    }
}

// --- Dialog templates ------------------------------------------------------------------------

struct TemplateItem
{
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::wstring cls;  // "Button", "Static", ... (predefined ordinals are named)
    std::wstring text; // empty when textOrdinal is set
    int textOrdinal = -1;
};

struct Template
{
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu, cls, caption, face;
    WORD pointSize = 0;
    std::vector<TemplateItem> items;
};

class Reader
{
public:
    explicit Reader(std::span<const BYTE> bytes) : m_bytes(bytes) {}

    template <typename T> T Get()
    {
        T value{};
        if (m_pos + sizeof(T) <= m_bytes.size())
            std::memcpy(&value, m_bytes.data() + m_pos, sizeof(T));
        m_pos += sizeof(T);
        return value;
    }
    std::wstring String()
    {
        std::wstring s;
        while (WCHAR c = Get<WCHAR>())
            s += c;
        return s;
    }
    // sz_Or_Ord: returns the string, or sets ordinal.
    std::wstring StringOrOrdinal(int* ordinal)
    {
        WORD first = Get<WORD>();
        if (first == 0xFFFF)
        {
            *ordinal = Get<WORD>();
            return {};
        }
        if (first == 0)
            return {};
        m_pos -= sizeof(WORD);
        return String();
    }
    void AlignDword() { m_pos = (m_pos + 3) & ~size_t{3}; }
    bool Overran() const { return m_pos > m_bytes.size(); }

private:
    std::span<const BYTE> m_bytes;
    size_t m_pos = 0;
};

std::wstring ClassName(int ordinal, std::wstring name)
{
    switch (ordinal)
    {
    case 0x80:
        return L"Button";
    case 0x82:
        return L"Static";
    case -1:
        return name;
    default:
        return L"#" + std::to_wstring(ordinal);
    }
}

bool ReadTemplate(UINT id, Template* out)
{
    auto bytes = ResourceBytes(RT_DIALOG, MAKEINTRESOURCEW(id), kKorean);
    if (bytes.empty())
        return false;
    Reader r(bytes);
    // Only the extended form is written by our resource script.
    if (r.Get<WORD>() != 1 || r.Get<WORD>() != 0xFFFF)
        return false;
    r.Get<DWORD>(); // help id
    out->exStyle = r.Get<DWORD>();
    out->style = r.Get<DWORD>();
    WORD count = r.Get<WORD>();
    out->x = r.Get<short>();
    out->y = r.Get<short>();
    out->cx = r.Get<short>();
    out->cy = r.Get<short>();
    int ordinal = -1;
    out->menu = r.StringOrOrdinal(&ordinal);
    if (ordinal != -1)
        return false;
    out->cls = r.StringOrOrdinal(&ordinal);
    if (ordinal != -1)
        return false;
    out->caption = r.String();
    if (out->style & DS_SETFONT)
    {
        out->pointSize = r.Get<WORD>();
        r.Get<WORD>(); // weight
        r.Get<BYTE>(); // italic
        r.Get<BYTE>(); // charset
        out->face = r.String();
    }
    for (WORD i = 0; i < count; ++i)
    {
        r.AlignDword();
        TemplateItem item;
        r.Get<DWORD>(); // help id
        item.exStyle = r.Get<DWORD>();
        item.style = r.Get<DWORD>();
        item.x = r.Get<short>();
        item.y = r.Get<short>();
        item.cx = r.Get<short>();
        item.cy = r.Get<short>();
        item.id = r.Get<int>();
        int clsOrdinal = -1;
        std::wstring cls = r.StringOrOrdinal(&clsOrdinal);
        item.cls = ClassName(clsOrdinal, cls);
        item.text = r.StringOrOrdinal(&item.textOrdinal);
        WORD extra = r.Get<WORD>();
        for (WORD b = 0; b < extra; ++b)
            r.Get<BYTE>();
        out->items.push_back(item);
    }
    return !r.Overran();
}

struct ExpectedItem
{
    int id;
    const wchar_t* cls;
    const wchar_t* text;
    int textOrdinal;
    DWORD style;
    short x, y, cx, cy;
};

void ExpectItems(const Template& t, std::span<const ExpectedItem> expected)
{
    ASSERT_EQ(t.items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
    {
        SCOPED_TRACE(testing::Message() << "control " << i + 1);
        const auto& got = t.items[i];
        const auto& want = expected[i];
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(_wcsicmp(got.cls.c_str(), want.cls), 0)
            << std::string(got.cls.begin(), got.cls.end());
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.textOrdinal, want.textOrdinal);
        EXPECT_EQ(got.style, want.style) << std::hex << got.style;
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
    }
}

TEST(Templates, ErrorDialog101IsTheHiddenCaptionedDialogWithItsThreeControls)
{
    EXPECT_EQ(LanguagesOf(RT_DIALOG, MAKEINTRESOURCEW(IDD_MSGDLG)), std::set<LANGID>{kKorean});
    Template t;
    ASSERT_TRUE(ReadTemplate(IDD_MSGDLG, &t));
    EXPECT_EQ(t.style, DWORD(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(t.style, 0x80C000C0u);
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 206);
    EXPECT_EQ(t.cy, 104);
    EXPECT_TRUE(t.menu.empty());
    EXPECT_TRUE(t.cls.empty());
    EXPECT_EQ(t.caption, L"오류");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.face, L"MS Shell Dlg");

    const ExpectedItem items[] = {
        {IDCANCEL, L"Button", L"취소", -1, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
         75, 81, 55, 16},
        {IDOK, L"Button", L"예", -1, WS_CHILD | WS_DISABLED | BS_PUSHBUTTON, 7, 83, 50, 14},
        {IDC_MSGTEXT, L"Static", L"Static", -1, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER, 9, 25,
         192, 29},
    };
    ExpectItems(t, items);
}

TEST(Templates, AboutBox100HasItsIconTwoLinesAndButton)
{
    EXPECT_EQ(LanguagesOf(RT_DIALOG, MAKEINTRESOURCEW(IDD_ABOUTBOX)), std::set<LANGID>{kKorean});
    Template t;
    ASSERT_TRUE(ReadTemplate(IDD_ABOUTBOX, &t));
    EXPECT_EQ(t.style, 0x80C800C0u);
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 235);
    EXPECT_EQ(t.cy, 55);
    EXPECT_TRUE(t.menu.empty());
    EXPECT_TRUE(t.cls.empty());
    EXPECT_EQ(t.caption, L"정보 Quenlo");
    EXPECT_EQ(t.pointSize, 9);
    EXPECT_EQ(t.face, L"MS Shell Dlg");

    ASSERT_EQ(t.items.size(), 4u);
    // The second line is free text; take it as built, but it must say something.
    EXPECT_FALSE(t.items[2].text.empty());
    const ExpectedItem items[] = {
        {IDC_STATIC, L"Static", L"", IDR_MAINFRAME, WS_CHILD | WS_VISIBLE | SS_ICON, 11, 17, 20,
         20},
        {IDC_STATIC, L"Static", L"Quenlo Version 3.0", -1,
         WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT | SS_NOPREFIX, 40, 10, 119, 8},
        {IDC_STATIC, L"Static", t.items[2].text.c_str(), -1,
         WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 40, 25, 119, 8},
        {IDOK, L"Button", L"예", -1,
         WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 178, 7, 50, 14},
    };
    ExpectItems(t, items);
}

TEST(Templates, BothDialogsCanBeCreatedFromTheirTemplates)
{
    for (UINT id : {IDD_MSGDLG, IDD_ABOUTBOX})
    {
        SCOPED_TRACE(id);
        HWND dlg = CreateDialogParamW(
            Self(), MAKEINTRESOURCEW(id), nullptr,
            [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
        ASSERT_NE(dlg, nullptr);
        EXPECT_FALSE(IsWindowVisible(dlg));
        EXPECT_NE(GetDlgItem(dlg, IDOK), nullptr);
        if (id == IDD_ABOUTBOX)
        {
            // The icon control found icon 128.
            HWND icon = GetWindow(dlg, GW_CHILD);
            ASSERT_NE(icon, nullptr);
            EXPECT_NE(SendMessageW(icon, STM_GETICON, 0, 0), 0);
        }
        DestroyWindow(dlg);
    }
}

// --- Icons -----------------------------------------------------------------------------------

#pragma pack(push, 2)
struct GroupIconEntry
{
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconEntry) == 14);

struct ExpectedImage
{
    int size;
    int bits;
};

constexpr ExpectedImage kImages[] = {{32, 1}, {32, 4},  {32, 8}, {32, 24}, {16, 4},
                                     {16, 8}, {16, 32}, {48, 8}, {48, 32}};

std::vector<std::span<const BYTE>> CheckIconGroup(UINT group)
{
    std::vector<std::span<const BYTE>> images;
    EXPECT_EQ(LanguagesOf(RT_GROUP_ICON, MAKEINTRESOURCEW(group)), std::set<LANGID>{kJapanese});
    auto dir = ResourceBytes(RT_GROUP_ICON, MAKEINTRESOURCEW(group), kJapanese);
    EXPECT_GE(dir.size(), 6u);
    if (dir.size() < 6)
        return images;
    WORD header[3];
    std::memcpy(header, dir.data(), sizeof header);
    EXPECT_EQ(header[1], 1); // icons, not cursors
    EXPECT_EQ(header[2], std::size(kImages));
    EXPECT_EQ(dir.size(), 6 + header[2] * sizeof(GroupIconEntry));
    if (header[2] != std::size(kImages) || dir.size() != 6 + header[2] * sizeof(GroupIconEntry))
        return images;

    for (size_t i = 0; i < std::size(kImages); ++i)
    {
        SCOPED_TRACE(testing::Message() << "image " << i + 1);
        GroupIconEntry e;
        std::memcpy(&e, dir.data() + 6 + i * sizeof e, sizeof e);
        const auto& want = kImages[i];
        EXPECT_EQ(e.width, want.size);
        EXPECT_EQ(e.height, want.size);
        EXPECT_EQ(e.bitCount, want.bits);
        EXPECT_EQ(e.colours, want.bits < 8 ? 1 << want.bits : 0);

        EXPECT_EQ(LanguagesOf(RT_ICON, MAKEINTRESOURCEW(e.id)), std::set<LANGID>{kJapanese});
        auto image = ResourceBytes(RT_ICON, MAKEINTRESOURCEW(e.id), kJapanese);
        EXPECT_EQ(image.size(), e.bytes);
        if (image.size() < sizeof(BITMAPINFOHEADER))
            continue;
        BITMAPINFOHEADER bih;
        std::memcpy(&bih, image.data(), sizeof bih);
        EXPECT_EQ(bih.biWidth, want.size);
        EXPECT_EQ(bih.biHeight, 2 * want.size); // colour bitmap and AND mask
        EXPECT_EQ(bih.biBitCount, want.bits);
        EXPECT_EQ(bih.biCompression, DWORD(BI_RGB));

        HICON icon = CreateIconFromResourceEx(const_cast<BYTE*>(image.data()), DWORD(image.size()),
                                              TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR);
        EXPECT_NE(icon, nullptr);
        if (icon)
            DestroyIcon(icon);
        images.push_back(image);
    }
    return images;
}

TEST(Icons, BothGroupsHoldTheSameNineImagesTaggedJapanese)
{
    auto app = CheckIconGroup(IDR_MAINFRAME);
    auto dialog = CheckIconGroup(IDI_MSGDLG);
    ASSERT_EQ(app.size(), std::size(kImages));
    ASSERT_EQ(dialog.size(), std::size(kImages));
    for (size_t i = 0; i < app.size(); ++i)
    {
        SCOPED_TRACE(i + 1);
        EXPECT_TRUE(std::equal(app[i].begin(), app[i].end(), dialog[i].begin(), dialog[i].end()));
    }
}

TEST(Icons, TheStandardSizesLoad)
{
    for (UINT group : {IDR_MAINFRAME, IDI_MSGDLG})
    {
        SCOPED_TRACE(group);
        HICON big = LoadIconW(Self(), MAKEINTRESOURCEW(group));
        EXPECT_NE(big, nullptr); // shared: not destroyed
        for (int size : {16, 32, 48})
        {
            SCOPED_TRACE(size);
            auto icon = static_cast<HICON>(
                LoadImageW(Self(), MAKEINTRESOURCEW(group), IMAGE_ICON, size, size, 0));
            ASSERT_NE(icon, nullptr);
            ICONINFO info{};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            BITMAP bm{};
            GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
            EXPECT_EQ(bm.bmWidth, size);
            if (info.hbmColor)
                DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            DestroyIcon(icon);
        }
    }
}

// --- Version ---------------------------------------------------------------------------------

TEST(Version, FileAndProductVersionAre4000)
{
    WCHAR path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    ASSERT_GE(len, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00040000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00040000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);

    WCHAR* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\041204b0\\ProductVersion",
                               reinterpret_cast<void**>(&text), &len));
    EXPECT_STREQ(text, L"4.0.0.0");
}

} // namespace
