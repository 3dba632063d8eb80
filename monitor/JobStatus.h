// The status of one print job as the printer reports it.
#pragma once

#include <windows.h>

struct JobStatus
{
    LONG ErrorCode;       // 2000: no error; otherwise the id of the message to show
    LONG ErrorCodeDetail; // written into some messages in hexadecimal
    LONG ShowButtonType;  // 0: no button; 1 and 2 choose its caption
    LONG ButtonResetSW;   // non-zero: forget an earlier press of the button
};

static_assert(sizeof(JobStatus) == 16, "four 32-bit values, nothing else");
