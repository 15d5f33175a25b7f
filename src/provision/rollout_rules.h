// Decisions of a staged rollout that need no platform. A release's version file may say which
// share of the desktops takes it (rollout=P, percent). Each desktop draws a number from 0 to 99
// once and keeps it; a desktop with a whole runtime takes the release only when its number is
// below P, so raising P widens the same group, lowering it stops the release for those that have
// not taken it yet, and a desktop's answer for one P is the same at every start.
#pragma once

#include <stddef.h>

enum : unsigned { kDesktopNumberRange = 100 };
enum : size_t { kDesktopNumberTextCapacity = 8 };

// The kept number's text: one or two decimal digits, below 100, optionally followed by a line end
// (CR LF or LF). False for anything else, which the caller draws again.
bool ParseDesktopNumber(const char* text, size_t length, unsigned* number);

// The text that ParseDesktopNumber reads back as number; returns its length (0 when it does not fit).
size_t FormatDesktopNumber(unsigned number, char* text, size_t capacity);

// A number from 0 to 99 out of random bytes, each equally likely: the first byte below 200 taken
// modulo 100 (the bytes from 200 up would favour the numbers below 56). False when every byte was
// 200 or more; the caller draws more bytes.
bool DesktopNumberFromRandom(const unsigned char* bytes, size_t count, unsigned* number);

// Whether a desktop stays on its runtime instead of installing the announced release. Only a
// desktop with a whole runtime is held back (one without must get one, whatever the share), and
// not when the build forces an install on every start.
bool RolloutHoldsBack(bool wholeRuntime, bool forced, unsigned desktopNumber, unsigned rolloutPercent);
