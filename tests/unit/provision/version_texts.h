// Texts of version files and the number each stands for. The pure parser and the reading of a
// real file must agree on every one of them, so both tests walk this one table.
#pragma once

#include <string>
#include <vector>

struct VersionText {
    std::string text;
    int number;
};

inline std::vector<VersionText> VersionTexts()
{
    return {
        {" 12\n", 12},
        {"12abc", 12},
        {"abc", 0},
        {"-3", -3},
        {"", 0},
        {"\t\n\v\f\r +7", 7},
        {"- 3", 0},
        {"+-3", 0},
        {"\xa0" "5", 0}, // only the six ASCII spaces are skipped
        {"12 13", 12},
        {"-0", 0},
        {std::string("42\0" "99", 5), 42}, // the text ends at a zero byte
        // Numbers outside the signed 32-bit range are clamped, not wrapped.
        {std::string(700, '7'), 2147483647},
        {std::string(700, '9'), 2147483647},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-2147483649", -2147483647 - 1},
        {"-" + std::string(700, '7'), -2147483647 - 1},
        {"-" + std::string(700, '1'), -2147483647 - 1},
        {"000000000000" "2147483647", 2147483647},
    };
}
