// Interpretation of the command line: one argument (launch address or file) selects URL mode and
// the application variant; two arguments (property file, launcher archive) select test mode.
#pragma once

enum class AppVariant { kSecond, kFirst, kNone };

// Variant chosen by the markers in a launch argument; the first marker found decides.
AppVariant ChooseVariant(const wchar_t* launchArgument);

// Applies a variant's name, default host and runtime server folder to the state.
void ApplyVariant(AppVariant variant);

// Sets the run mode from an argument vector whose element 0 is the program path.
int ApplyArgumentVector(int count, wchar_t** arguments);

// Sets the run mode from the process command line. 0 when a mode was set, -1 for an
// unsupported number of arguments.
int ParseArguments();
