#include "provision/refused_start.h"

#include "base/state.h"
#include "log/format.h"
#include "log/log.h"
#include "log/warnings.h"
#include "provision/start_rules.h"

bool ReportRefusedStart(DWORD code, const wchar_t* program)
{
    StartRefusal refusal = ClassifyStartError(code);
    if (refusal == kStartNotRefused)
        return false;
    wchar_t text[kCacheWorkWarningCapacity];
    if (refusal == kStartNeedsElevation) {
        LogPrintf(L"Programm verlangt Administratorrechte und wurde nicht gestartet (Fehler %lu): %s", code, program);
        BoundedFormat(text, kCacheWorkWarningCapacity,
                      L"Das Programm\n%s\nverlangt Administratorrechte (Fehler %lu) und wurde nicht gestartet.\n\n"
                      L"Bitte wenden Sie sich an Ihre IT-Abteilung.",
                      program, code);
    } else {
        LogPrintf(L"Anwendungssteuerung hat den Start blockiert (Fehler %lu): %s", code, program);
        BoundedFormat(text, kCacheWorkWarningCapacity,
                      L"Die Anwendungssteuerung Ihres Unternehmens hat den Start dieses Programms blockiert "
                      L"(Fehler %lu):\n%s\n\nBitte wenden Sie sich an Ihre IT-Abteilung: Programme im Ordner\n%s\n"
                      L"m\u00fcssen ausgef\u00fchrt werden d\u00fcrfen.",
                      code, program, launcherState.cacheFolder);
    }
    ShowWarning(text);
    return true;
}
