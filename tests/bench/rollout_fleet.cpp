// A simulated fleet under the staged-rollout rule, natively: each desktop draws its number once
// from random bytes and keeps its text; at every start it reads the text back and decides, for
// each share, whether it installs. Prints the share that installs per P and exits 1 when a share
// lies more than one percentage point from P, a desktop's answer changes between starts, or a
// desktop that installs at one share is held back at a higher one.
//   rollout_fleet [DESKTOPS [SEED [STARTS]]]      (10000 desktops, seed 1, 5 starts)
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <vector>

#include "provision/rollout_rules.h"

int main(int argc, char** argv)
{
    const unsigned desktops = argc > 1 ? unsigned(atoi(argv[1])) : 10000;
    const unsigned seed = argc > 2 ? unsigned(atoi(argv[2])) : 1;
    const unsigned starts = argc > 3 ? unsigned(atoi(argv[3])) : 5;
    const unsigned shares[] = {1, 10, 50};
    std::mt19937_64 random(seed);
    std::vector<std::vector<char>> kept(desktops, std::vector<char>(kDesktopNumberTextCapacity));
    std::vector<size_t> keptLength(desktops);
    for (unsigned d = 0; d < desktops; ++d) {
        unsigned number = 0;
        unsigned char bytes[16];
        do {
            for (unsigned char& b : bytes)
                b = static_cast<unsigned char>(random());
        } while (!DesktopNumberFromRandom(bytes, sizeof bytes, &number));
        keptLength[d] = FormatDesktopNumber(number, kept[d].data(), kDesktopNumberTextCapacity);
    }
    int status = 0;
    unsigned changed = 0, narrowed = 0;
    for (unsigned share : shares) {
        unsigned installs = 0;
        for (unsigned d = 0; d < desktops; ++d) {
            int first = -1;
            for (unsigned start = 0; start < starts; ++start) {
                unsigned number = 0;
                bool read = ParseDesktopNumber(kept[d].data(), keptLength[d], &number);
                int installsNow = read && !RolloutHoldsBack(true, false, number, share);
                changed += first >= 0 && installsNow != first;
                first = installsNow;
            }
            installs += unsigned(first);
            // Raising the share may only add desktops.
            for (unsigned higher = share + 1; higher <= 100 && first; ++higher) {
                unsigned number = 0;
                ParseDesktopNumber(kept[d].data(), keptLength[d], &number);
                narrowed += RolloutHoldsBack(true, false, number, higher);
            }
        }
        double percent = 100.0 * installs / desktops;
        bool within = fabs(percent - share) <= 1.0;
        printf("P=%3u: %5u of %u desktops install (%.2f %%)%s\n", share, installs, desktops, percent,
               within ? "" : "  OUTSIDE one percentage point");
        status |= !within;
    }
    printf("answers changed between %u starts: %u; desktops dropped by a higher share: %u\n", starts, changed,
           narrowed);
    return status || changed || narrowed;
}
