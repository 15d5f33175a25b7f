// Whether a file received from the server is a whole ZIP archive, decided on its bytes alone. The
// bytes come from the network, so this reads nothing outside them; standard headers only, so it
// also builds natively for fuzzing.
#pragma once

#include <stddef.h>

// Whether bytes form a whole ZIP archive: a local-file signature at the start and a valid
// end-of-central-directory record at the end (its comment reaching exactly to the end), whose
// central directory ends where the record begins; a zip64 record needs its locator right before.
bool IsWholeZipArchive(const unsigned char* bytes, size_t size);
