// Whether a path reaches the Java launcher as written. The Java launcher turns its wide command
// line into the ANSI code page and works on that text; characters the code page lacks become a
// best-fit look-alike ('ă' -> 'a') or '?', and the path then names another file or none.
#pragma once

// True when text survives the round trip through codePage unchanged: it converts without a
// best-fit or default character and back to the same text. UTF-8 (65001) keeps every text but an
// unpaired surrogate. Conversion only: no state, no files.
bool SurvivesCodePage(const wchar_t* text, unsigned codePage);
