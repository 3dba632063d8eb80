// CString loading and formatting of the executable's string resources.
#include "afx_test_util.h"

#include "afx_test_res.h"

#include <string>

namespace
{

struct FormatCase
{
    UINT nID;
    DWORD dwArg;
    const wchar_t* expected;
};

TEST(CStringFormat, FormatsTheStringResourceWithTheArguments)
{
    const FormatCase cases[] = {
        {IDS_TEST_JAM, 6699, L"용지 걸림(001A2B).\n용지를 다시 정렬하십시오."},
        {IDS_TEST_JAM, 4294967295u, L"용지 걸림(FFFFFFFF).\n용지를 다시 정렬하십시오."},
        {IDS_TEST_JAM, 0, L"용지 걸림(000000).\n용지를 다시 정렬하십시오."},
        {IDS_TEST_JAM, 16777216, L"용지 걸림(1000000).\n용지를 다시 정렬하십시오."},
        // No placeholder: the argument is ignored.
        {IDS_TEST_PRINTER, 6699, L"프린터에 오류가 발생했습니다."},
        // No such string: nothing to format.
        {4000, 6699, L""},
    };
    for (const FormatCase& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.nID << " " << c.dwArg);
        CString text(L"old");
        text.Format(c.nID, c.dwArg);
        EXPECT_EQ(std::wstring(text), c.expected);
        EXPECT_EQ(text.GetLength(), static_cast<int>(std::wstring(c.expected).size()));
    }
}

TEST(CStringLoad, LoadsTheTextAsStored)
{
    CString text;
    ASSERT_TRUE(text.LoadString(IDS_TEST_RIBBON));
    EXPECT_EQ(std::wstring(text), L"리본이 비었습니다. \n리본을 교체하십시오.");
    EXPECT_TRUE(text == L"리본이 비었습니다. \n리본을 교체하십시오.");
}

TEST(CStringLoad, MissingStringGivesFalseAndAnEmptyString)
{
    CString text(L"old");
    EXPECT_FALSE(text.LoadString(4001));
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_TRUE(text == CString());
    EXPECT_STREQ(static_cast<LPCWSTR>(text), L"");
}

} // namespace
