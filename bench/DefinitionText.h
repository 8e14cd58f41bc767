#pragma once
// Text much like definition files, for the benchmarks: words, numbers and line breaks.
#include <random>
#include <string>

inline std::string DefinitionLikeText(std::mt19937& rng, size_t size)
{
    static const char* words[] = {"engine", "transmission", "truck", "accessory_engine_data", "unit",
                                  "torque", "gear", "ratio", "{", "}", "\r\n", ": ", " ", "\t", "volvo.fh16"};
    std::string data;
    data.reserve(size + 32);
    while (data.size() < size)
    {
        data += words[rng() % (sizeof(words) / sizeof(words[0]))];
        if (rng() % 5 == 0)
            data += std::to_string(rng() % 100000);
    }
    data.resize(size);
    return data;
}
