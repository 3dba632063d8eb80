// The hidden main frame: the main thread's main window, never shown.
#pragma once

#include <afxwin.h>

class CMainFrame : public CFrameWnd
{
    DECLARE_DYNAMIC(CMainFrame)

public:
    // Registers the window class and creates the hidden window.
    CMainFrame();
    ~CMainFrame() override;

    BOOL PreCreateWindow(CREATESTRUCT& cs) override;

protected:
    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    void OnEndSession(BOOL bEnding);
    void OnClose();
    DECLARE_MESSAGE_MAP()
};
