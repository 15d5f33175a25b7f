#include "provision/runtime.h"

int EnsureRuntime()
{
    return 0;
}

int ReadVersionNumber(const wchar_t*)
{
    return -1;
}

bool RuntimePackPresent()
{
    return false;
}

int RunExtract()
{
    return 0;
}
