// Seeds for the seeded random runs: the committed corpus of a target, and mutations of it. A fixed
// seed keeps a failure reproducible; LAUNCHER_FUZZ_RUNS runs more inputs.
#pragma once

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

inline int FuzzRuns(int defaultRuns)
{
    const char* text = getenv("LAUNCHER_FUZZ_RUNS");
    return text ? atoi(text) : defaultRuns;
}

// Every file of tests/fuzz/corpus/<target>, whole.
inline std::vector<std::string> LoadCorpus(const char* target)
{
    std::vector<std::string> seeds;
    std::string folder = std::string(LAUNCHER_FUZZ_CORPUS "/") + target + "/";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return seeds;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        FILE* file = fopen((folder + found.cFileName).c_str(), "rb");
        if (!file)
            continue;
        std::string bytes;
        int c;
        while ((c = fgetc(file)) != EOF)
            bytes += static_cast<char>(c);
        fclose(file);
        seeds.push_back(bytes);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return seeds;
}

// A seed changed in a few places: bytes replaced, tokens that mean something to the readers
// put in, pieces cut out or repeated (so lines and values also grow past their limits), and
// now and then a piece of another seed.
inline std::string Mutate(std::mt19937& random, const std::vector<std::string>& seeds, size_t maxSize)
{
    static const char* const kTokens[] = {"\n", "\r\n", "\r", "=", ":", "://", "http://", "https://", "\"",
                                          "\\", "\\\\\"", " ", "\t", "hostname=", "forcedownload=true",
                                          "versionDownloadPath=", "resourceDownloadPath=", "#", "-", "+",
                                          "0", "9", "\x1a", ""}; // "" stands for a zero byte
    std::string text = seeds.empty() ? std::string() : seeds[random() % seeds.size()];
    int changes = 1 + random() % 8;
    for (int i = 0; i < changes; ++i) {
        size_t at = text.empty() ? 0 : random() % (text.size() + 1);
        switch (random() % 6) {
        case 0:
            if (!text.empty())
                text[random() % text.size()] = static_cast<char>(random());
            break;
        case 1: {
            const char* token = kTokens[random() % (sizeof kTokens / sizeof kTokens[0])];
            text.insert(at, *token ? std::string(token) : std::string(1, '\0'));
            break;
        }
        case 2:
            text.erase(at, random() % 16);
            break;
        case 3: {
            std::string piece = text.substr(at, 1 + random() % 64);
            for (int k = random() % 40; k > 0; --k)
                text.insert(at, piece);
            break;
        }
        case 4:
            if (!seeds.empty()) {
                const std::string& other = seeds[random() % seeds.size()];
                text.insert(at, other.substr(other.empty() ? 0 : random() % other.size()));
            }
            break;
        default:
            text.insert(at, std::string(1 + random() % 3, static_cast<char>(random())));
            break;
        }
    }
    if (text.size() > maxSize)
        text.resize(maxSize);
    return text;
}

// One seeded run of a target: its corpus and a fixed random sequence. Every seed is an input once,
// then mutations of them follow.
struct SeededRun {
    std::vector<std::string> seeds;
    std::mt19937 random;
    int runs;
};

inline SeededRun StartSeededRun(const char* target, unsigned seed, int runs)
{
    return SeededRun{LoadCorpus(target), std::mt19937(seed), runs};
}

inline std::string SeededInput(SeededRun& run, int i, size_t maxSize)
{
    return i < static_cast<int>(run.seeds.size()) ? run.seeds[i] : Mutate(run.random, run.seeds, maxSize);
}
