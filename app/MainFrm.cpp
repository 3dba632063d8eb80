#include "MainFrm.h"

namespace
{
constexpr WCHAR kFrameClassName[] = L"QuenloWClass";
// WS_MINIMIZE | WS_OVERLAPPEDWINDOW, not visible.
constexpr DWORD kFrameStyle = WS_MINIMIZE | WS_OVERLAPPEDWINDOW;
} // namespace

IMPLEMENT_DYNAMIC(CMainFrame, CFrameWnd)

BEGIN_MESSAGE_MAP(CMainFrame, CFrameWnd)
ON_WM_CREATE()
ON_WM_ENDSESSION()
ON_WM_CLOSE()
END_MESSAGE_MAP()

CMainFrame::CMainFrame()
{
    WNDCLASSW wc{};
    wc.style = CS_BYTEALIGNWINDOW;
    wc.lpfnWndProc = AfxGetAfxWndProc();
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = AfxGetInstanceHandle();
    wc.hIcon = nullptr;
    wc.hCursor = nullptr;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_SCROLLBAR + 1));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = kFrameClassName;
    AfxRegisterClass(&wc);

    const RECT rect{0, 0, 100, 100};
    Create(kFrameClassName, kFrameClassName, kFrameStyle, rect, nullptr, nullptr, 0, nullptr);
}

CMainFrame::~CMainFrame() = default;

BOOL CMainFrame::PreCreateWindow(CREATESTRUCT& cs)
{
    return CFrameWnd::PreCreateWindow(cs) ? TRUE : FALSE;
}

int CMainFrame::OnCreate(LPCREATESTRUCT lpCreateStruct)
{
    return CFrameWnd::OnCreate(lpCreateStruct) == -1 ? -1 : 0;
}

void CMainFrame::OnEndSession(BOOL bEnding)
{
    CFrameWnd::OnEndSession(bEnding);
    if (bEnding)
        DestroyWindow();
}

void CMainFrame::OnClose()
{
    CFrameWnd::OnClose();
}
