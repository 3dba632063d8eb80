// The message catalogue as the program must carry it, for the tests that read it back.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

struct CatalogueEntry
{
    UINT id;
    const wchar_t* text;
};

// Line breaks are a bare line feed; 2002 keeps the blank before its line break.
inline constexpr CatalogueEntry kCatalogue[] = {
    {128, L"Quenlo"},
    {300, L"예"},
    {301, L"취소"},
    {2000, L"No Error."},
    {2001, L"표준 리본이 아닙니다."},
    {2002, L"리본이 비었습니다. \n리본을 교체하십시오."},
    {2003, L"용지가 없습니다."},
    {2004, L"용지가 소진되었습니다."},
    {2005, L"리본이 소진되었습니다."},
    {2006, L"리본이 잘못 설치되었습니다."},
    {2007, L"리본과 용지 종류가 일치하지 않습니다."},
    {2008, L"인쇄 드라이버의 용지 크기와 리본 종류가 일치하지 않습니다."},
    {2009, L"용지 걸림(%06X).\n용지를 다시 정렬하십시오."},
    {2010, L"인쇄 유닛이 열렸습니다."},
    {2011, L"인쇄 도중 인쇄 유닛이 열렸습니다."},
    {2012, L"기술 오류가 발생했습니다(%06X).\n용지를 다시 정렬하십시오."},
    {2013, L"기술 오류가 발생했습니다(%06X).\n프린터를 껐다가 다시 켠 후 다시 시도해 보십시오."},
    {2014,
     L"프린터에 오류가 발생했습니다.(%06X)\n프린터를 껐다가 다시 켠 후 다시 시도해 보십시오."},
    {2015, L"프린터에 오류가 발생했습니다.\n프린터를 껐다가 다시 켠 후 다시 시도해 보십시오."},
    {2016, L"프린터가 응답하지 않습니다.\n프린터를 껐다가 다시 켠 후 다시 시도해 보십시오."},
    {2017, L"프린터가 연결되지 않았습니다."},
    {2018, L"인쇄 도중 프린터가 꺼졌습니다.\n프린터를 켜십시오."},
    {2019, L"Over heat."},
    {2020, L"수거함이 설치되지 않았습니다."},
    {2021, L"리본에 오류가 발생했습니다.(%06X)\n용지를 다시 정렬하십시오."},
    {2022, L"리본에 오류가 발생했습니다.(%06X)\n용지와 리본을 다시 정렬하십시오."},
    {2023, L"프린터에 오류가 발생했습니다."},
    {57344, L"Quenlo"},
};

// Codes the error dialog shows a text for.
inline constexpr bool IsDisplayedCode(int code)
{
    return (code >= 2001 && code <= 2018) || (code >= 2020 && code <= 2023);
}

inline std::wstring CatalogueText(UINT id)
{
    for (const auto& entry : kCatalogue)
    {
        if (entry.id == id)
            return entry.text;
    }
    return {};
}

// The catalogue text with its placeholder, if any, replaced by the given digits.
inline std::wstring CatalogueTextWith(UINT id, std::wstring_view digits)
{
    std::wstring text = CatalogueText(id);
    if (auto at = text.find(L"%06X"); at != std::wstring::npos)
        text.replace(at, 4, digits);
    return text;
}
