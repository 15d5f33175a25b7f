// The product's answers: no step ever fails on purpose. The definitions stand alone in this
// object, so that the test build's own (linked into its program directly) take their place and
// this object is never pulled from the library there.
#include "base/fault_plan.h"

#include "base/held_rules.h"

DWORD PlannedFault(FaultStep, const wchar_t*)
{
    return 0;
}

DWORD HeldFileWindowMs()
{
    return kHeldFileWindowMs;
}
