#include "provision/start_rules.h"

namespace {

// Codes Microsoft documents for a program that policy does not let run (learn.microsoft.com,
// "System Error Codes"):
const unsigned long kPolicyCodes[] = {
    225,  // ERROR_VIRUS_INFECTED, "the file contains a virus or potentially unwanted software" (0-499)
    786,  // ERROR_ACCESS_DISABLED_NO_SAFER_UI_BY_POLICY, "Access to %1 has been restricted by your
          // Administrator by policy rule %2" (500-999): software restriction policies
    1260, // ERROR_ACCESS_DISABLED_BY_POLICY, "This program is blocked by group policy" (1000-1299):
          // AppLocker and software restriction policies
    4551, // ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION, "An Application Control policy has blocked this
          // file" (4000-5999): Windows Defender Application Control
    4556, // ERROR_SYSTEM_INTEGRITY_REPUTATION_MALICIOUS (4000-5999): Smart App Control
    4557, // ERROR_SYSTEM_INTEGRITY_REPUTATION_PUA
    4558, // ERROR_SYSTEM_INTEGRITY_REPUTATION_DANGEROUS_EXT
    4559, // ERROR_SYSTEM_INTEGRITY_REPUTATION_OFFLINE: the reputation service could not be asked
    4580, // ERROR_SYSTEM_INTEGRITY_REPUTATION_UNFRIENDLY_FILE
    4581, // ERROR_SYSTEM_INTEGRITY_REPUTATION_UNATTAINABLE
};

// ERROR_ELEVATION_REQUIRED, "The requested operation requires elevation" (500-999): CreateProcess
// does not elevate; a 32-bit program without an asInvoker manifest whose name or version text
// looks like an installer is taken for one (installer detection) and needs it.
const unsigned long kElevationRequired = 740;

} // namespace

StartRefusal ClassifyStartError(unsigned long code)
{
    if (code == kElevationRequired)
        return kStartNeedsElevation;
    for (unsigned long policyCode : kPolicyCodes)
        if (code == policyCode)
            return kStartRefusedByPolicy;
    return kStartNotRefused;
}
