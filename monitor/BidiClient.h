// Reads one print job's status from the printer and passes a button press back to it, through
// the bidi spooler interface.
#pragma once

#include <windows.h>

#include "JobStatus.h"

struct IBidiSpl;

// One IBidiSpl instance and one printer name. Every call, destruction included, is made on the
// thread that opened the client; that thread is in the multithreaded COM apartment while the
// client is open. Each request creates, binds, sends and unbinds its own request object.
class CBidiClient
{
public:
    CBidiClient();
    virtual ~CBidiClient();

    CBidiClient(const CBidiClient&) = delete;
    CBidiClient& operator=(const CBidiClient&) = delete;

    // Initialises COM (multithreaded) and creates the bidi spooler object. FALSE when already
    // open, when COM cannot be initialised on this thread, or when the object cannot be created;
    // a failure leaves the thread's COM state as it was.
    BOOL Open();
    // Releases the bidi spooler object and balances the initialisation of Open. Keeps the name.
    void Close();

    // TRUE when a non-empty name is now held. Null or empty drops the name held before.
    BOOL SetPrinterName(LPCWSTR pszPrinterName);

    // "GetAll" on the job's status. TRUE when *pStatus was filled; after FALSE it is unchanged.
    BOOL GetJobStatus(DWORD dwJobId, JobStatus* pStatus);
    // "Set" on the cancel button for the job. TRUE when the printer accepted it.
    BOOL SendCancelClick(DWORD dwJobId);

private:
    BOOL m_bOpen;
    IBidiSpl* m_pBidiSpl;
    BSTR m_bstrPrinterName;
};
