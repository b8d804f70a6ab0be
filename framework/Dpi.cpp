#include "framework/Dpi.h"

namespace {

// GetDpiForMonitor's signature and MDT_EFFECTIVE_DPI, which the Windows 7 headers lack.
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
constexpr int kEffectiveDpi = 0;

GetDpiForMonitorFn LoadGetDpiForMonitor()
{
    // A system DLL loaded once for the life of the process; never freed while the pointer lives.
    HMODULE shcore = ::LoadLibraryExA("shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!shcore)
        return nullptr;
    return reinterpret_cast<GetDpiForMonitorFn>(
        reinterpret_cast<void*>(::GetProcAddress(shcore, "GetDpiForMonitor")));
}

}  // namespace

int MonitorDpi(HMONITOR monitor, int fallback)
{
    static const GetDpiForMonitorFn getDpi = LoadGetDpiForMonitor();
    UINT x = 0;
    UINT y = 0;
    if (monitor && getDpi && SUCCEEDED(getDpi(monitor, kEffectiveDpi, &x, &y)) && x > 0)
        return int(x);
    return fallback;
}
