// The staged-rollout rule over a simulated fleet (rollout_fleet [DESKTOPS [SEED]], 10000 and 1): each
// desktop draws and keeps its number once, and decides at 5 starts for every P. Exit code 1 when the
// share at P = 1, 10 or 50 is over a point from P, an answer changes, or a higher P drops a desktop.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <random>

#include "provision/rollout_rules.h"

int main(int argc, char** argv)
{
    const unsigned desktops = argc > 1 ? unsigned(atoi(argv[1])) : 10000, starts = 5;
    std::mt19937_64 random(argc > 2 ? unsigned(atoi(argv[2])) : 1);
    unsigned installs[101] = {}, failures = 0;
    for (unsigned d = 0; d < desktops; ++d) {
        unsigned number = 0;
        for (unsigned char byte = 200; !DesktopNumberFromRandom(&byte, 1, &number);)
            byte = static_cast<unsigned char>(random());
        char text[kDesktopNumberTextCapacity];
        size_t length = FormatDesktopNumber(number, text, sizeof text);
        bool installedBelow = false;
        for (unsigned share = 0; share <= 100; ++share) {
            int answer = -1;
            for (unsigned start = 0; start < starts; ++start) {
                int now = ParseDesktopNumber(text, length, &number) && !RolloutHoldsBack(true, false, number, share);
                failures += answer >= 0 && now != answer;
                answer = now;
            }
            failures += installedBelow && !answer;
            installedBelow = answer;
            installs[share] += unsigned(answer);
        }
    }
    printf("answers changed between starts or dropped by a higher P: %u\n", failures);
    for (unsigned share : {1u, 10u, 50u}) {
        double percent = 100.0 * installs[share] / desktops;
        printf("P=%u: %u of %u desktops install (%.2f %%)\n", share, installs[share], desktops, percent);
        failures += fabs(percent - share) > 1.0;
    }
    return failures != 0;
}
