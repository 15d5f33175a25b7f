// The paths on javaw's command line in a form the Java launcher can read (see path_rules.h): a
// path the ANSI code page cannot carry is passed in its short (8.3) form, whose names are plain
// ASCII; where the volume keeps no short names the long path goes on and the log says so.
#pragma once

#include "base/state.h"

struct JavaPath {
    wchar_t text[kPathCapacity];
};

// path as the Java launcher will read it. A path whose last part does not exist yet (javaw,
// named without ".exe") is shortened up to its folder.
JavaPath JavaReadablePath(const wchar_t* path);
