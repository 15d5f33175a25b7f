// A received file of any size and content: the ZIP check reads nothing outside it, and an archive
// it accepts starts with a local-file record and ends with an end record whose comment reaches
// exactly to the end.
#include <stdint.h>

#include <vector>

#include "fuzz_text.h"
#include "worker/zip_rules.h"

namespace {

uint32_t Read16(const unsigned char* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

bool EndsWithAnEndRecord(const std::vector<unsigned char>& file)
{
    for (size_t end = 0; end + 22 <= file.size(); ++end) {
        const unsigned char* e = file.data() + end;
        if (e[0] == 'P' && e[1] == 'K' && e[2] == 5 && e[3] == 6 && end + 22 + Read16(e + 20) == file.size())
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly the input's size, so that any read past it is caught.
    std::vector<unsigned char> file(data, data + size);
    bool whole = IsWholeZipArchive(file.data(), file.size());
    if (!whole)
        return 0;
    FUZZ_CHECK(size >= 4 + 22);
    FUZZ_CHECK(file[0] == 'P' && file[1] == 'K' && file[2] == 3 && file[3] == 4);
    FUZZ_CHECK(EndsWithAnEndRecord(file));
    return 0;
}
