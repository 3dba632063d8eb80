// Wide strings loaded from and formatted with the executable's string resources.
#include "afximpl.h"

#include <cstdarg>
#include <cstdio>

CString::CString(LPCWSTR psz)
{
    if (psz)
        m_str = psz;
}

BOOL CString::LoadString(UINT nID)
{
    // With a zero buffer size the call hands out a read-only pointer into the resource.
    const wchar_t* pText = nullptr;
    const int nLength =
        ::LoadStringW(AfxGetResourceHandle(), nID, reinterpret_cast<LPWSTR>(&pText), 0);
    if (nLength <= 0 || !pText)
    {
        m_str.clear();
        return FALSE;
    }
    m_str.assign(pText, static_cast<size_t>(nLength));
    return TRUE;
}

void CString::Format(UINT nFormatID, ...)
{
    CString strFormat;
    strFormat.LoadString(nFormatID);

    // The C runtime's wide formatting: %s takes a wide string, %X an unsigned 32-bit value.
    va_list args;
    va_start(args, nFormatID);
    va_list argsCopy;
    va_copy(argsCopy, args);
    const int nLength = _vscwprintf(strFormat, argsCopy);
    va_end(argsCopy);
    if (nLength <= 0)
    {
        m_str.clear();
    }
    else
    {
        std::wstring text(static_cast<size_t>(nLength) + 1, L'\0');
        const int nWritten = _vsnwprintf(text.data(), text.size(), strFormat, args);
        text.resize(nWritten < 0 ? 0 : static_cast<size_t>(nWritten));
        m_str = std::move(text);
    }
    va_end(args);
}
