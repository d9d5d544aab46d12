#include "AppChannel.h"

namespace {
AppChannel* g_pCurrentApp = nullptr;
}

AppChannel* OrvApp() { return g_pCurrentApp; }

void OrvApp_Set(AppChannel* pApp) { g_pCurrentApp = pApp; }
