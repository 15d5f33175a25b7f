#include "provision/properties.h"

int ReadLauncherProperties()
{
    return 0;
}
