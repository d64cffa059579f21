#include "app/startup_step.h"

#include <windows.h>

#include <string>

#include "app/window.h"
#include "manifest/attribution.h"

namespace kestrelume {

bool RetryStartupStep(StartupStep step, const StartupFault& fault, FunctionRef<bool()> attempt) {
  DWORD pause_ms = 50;
  for (uint32_t tried = 0; tried < kStartupAttempts; ++tried) {
    if (tried > 0) {
      Sleep(pause_ms);
      pause_ms *= 2;
    }
    const bool forced = KESTRELUME_DEV_BUILD && step == fault.step && tried < fault.count;
    if (!forced && attempt()) return true;
  }
  return false;
}

void ReportStartupFailure(StartupStep step) {
  const wchar_t* what = step == StartupStep::Drawing ? L"its drawing (Direct2D)"
                        : step == StartupStep::Text  ? L"its text and fonts (DirectWrite)"
                                                     : L"its window";
  std::wstring text = L"The installer could not start: Windows did not let it set up ";
  text += what;
  text += L".\n\nStart the installer again. If this keeps happening, download the offline "
          L"installer from ";
  text += kWebsiteHost;
  text += L".";
  MessageBoxW(nullptr, text.c_str(), kWindowTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

}  // namespace kestrelume
