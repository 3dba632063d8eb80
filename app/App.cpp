#include "MonitorApp.h"

// The one application object.
CMonitorApp theApp;
