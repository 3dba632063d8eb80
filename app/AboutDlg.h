// The About box, shown modally for the standard About command.
#pragma once

#include <afxwin.h>

class CAboutDlg : public CDialog
{
public:
    CAboutDlg();
    ~CAboutDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    DECLARE_MESSAGE_MAP()
};
