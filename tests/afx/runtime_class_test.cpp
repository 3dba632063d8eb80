// Run-time class records and dynamic creation.
#include "afx_test_util.h"

#include <cstring>

namespace
{

// Like the program's main frame: run-time class information, no dynamic creation.
class CTestDynamicFrame : public CFrameWnd
{
    DECLARE_DYNAMIC(CTestDynamicFrame)
};
IMPLEMENT_DYNAMIC(CTestDynamicFrame, CFrameWnd)

// Like the program's dialog thread: created from its run-time class.
class CTestCreatedThread : public CWinThread
{
    DECLARE_DYNCREATE(CTestCreatedThread)
public:
    int m_nMarker = 1234;

protected:
    CTestCreatedThread() = default;
};
IMPLEMENT_DYNCREATE(CTestCreatedThread, CWinThread)

struct RecordCase
{
    const CRuntimeClass* pClass;
    const char* name;
    int size;
    const CRuntimeClass* pBase;
};

TEST(RuntimeClass, RecordsCarryNameSizeSchemaAndBase)
{
    const RecordCase cases[] = {
        {RUNTIME_CLASS(CCmdTarget), "CCmdTarget", sizeof(CCmdTarget), RUNTIME_CLASS(CObject)},
        {RUNTIME_CLASS(CWinThread), "CWinThread", sizeof(CWinThread), RUNTIME_CLASS(CCmdTarget)},
        {RUNTIME_CLASS(CWinApp), "CWinApp", sizeof(CWinApp), RUNTIME_CLASS(CWinThread)},
        {RUNTIME_CLASS(CWnd), "CWnd", sizeof(CWnd), RUNTIME_CLASS(CCmdTarget)},
        {RUNTIME_CLASS(CFrameWnd), "CFrameWnd", sizeof(CFrameWnd), RUNTIME_CLASS(CWnd)},
        {RUNTIME_CLASS(CDialog), "CDialog", sizeof(CDialog), RUNTIME_CLASS(CWnd)},
        {RUNTIME_CLASS(CTestDynamicFrame), "CTestDynamicFrame", sizeof(CTestDynamicFrame),
         RUNTIME_CLASS(CFrameWnd)},
        {RUNTIME_CLASS(CTestCreatedThread), "CTestCreatedThread", sizeof(CTestCreatedThread),
         RUNTIME_CLASS(CWinThread)},
    };
    for (const RecordCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(c.pClass->m_lpszClassName, c.name);
        EXPECT_EQ(c.pClass->m_nObjectSize, c.size);
        EXPECT_EQ(c.pClass->m_wSchema, 0xFFFFu);
        EXPECT_EQ(c.pClass->m_pBaseClass, c.pBase);
    }
    EXPECT_EQ(RUNTIME_CLASS(CObject)->m_pBaseClass, nullptr);
}

TEST(RuntimeClass, OnlyDynCreateClassesCanBeCreated)
{
    EXPECT_EQ(RUNTIME_CLASS(CTestDynamicFrame)->m_pfnCreateObject, nullptr);
    EXPECT_EQ(RUNTIME_CLASS(CTestDynamicFrame)->CreateObject(), nullptr);

    CObject* pObject = RUNTIME_CLASS(CTestCreatedThread)->CreateObject();
    ASSERT_NE(pObject, nullptr);
    EXPECT_EQ(pObject->GetRuntimeClass(), RUNTIME_CLASS(CTestCreatedThread));
    auto* pThread = dynamic_cast<CTestCreatedThread*>(pObject);
    ASSERT_NE(pThread, nullptr);
    EXPECT_EQ(pThread->m_nMarker, 1234); // the constructor ran
    EXPECT_TRUE(pThread->m_bAutoDelete);
    EXPECT_EQ(pThread->m_hThread, nullptr);
    delete pObject;
}

TEST(RuntimeClass, ObjectsKnowTheirClassAndItsBases)
{
    CTestDynamicFrame frame;
    EXPECT_EQ(frame.GetRuntimeClass(), RUNTIME_CLASS(CTestDynamicFrame));
    const CObject& object = frame;
    EXPECT_EQ(object.GetRuntimeClass(), RUNTIME_CLASS(CTestDynamicFrame));

    for (const CRuntimeClass* pBase :
         {RUNTIME_CLASS(CTestDynamicFrame), RUNTIME_CLASS(CFrameWnd), RUNTIME_CLASS(CWnd),
          RUNTIME_CLASS(CCmdTarget), RUNTIME_CLASS(CObject)})
    {
        SCOPED_TRACE(pBase->m_lpszClassName);
        EXPECT_TRUE(frame.IsKindOf(pBase));
    }
    EXPECT_FALSE(frame.IsKindOf(RUNTIME_CLASS(CDialog)));
    EXPECT_FALSE(frame.IsKindOf(RUNTIME_CLASS(CWinThread)));
    EXPECT_FALSE(RUNTIME_CLASS(CWnd)->IsDerivedFrom(RUNTIME_CLASS(CFrameWnd)));
}

} // namespace
