// Applies BuildCommDCBA to setup strings and prints the result, so that a
// native test can compare the platform's parser with our own.
//   dcb-probe START_HEX < strings
// START_HEX is the 28-byte DCB every string starts from. For each line of
// input one line is printed: 1 or 0 (whether the string was accepted), a
// blank and the DCB afterwards as 56 hex digits.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include <windows.h>

namespace {

bool FromHex(const std::string& text, unsigned char* out, size_t size)
{
    if (text.size() != size * 2)
        return false;
    for (size_t i = 0; i < size; ++i) {
        unsigned value = 0;
        if (std::sscanf(text.c_str() + 2 * i, "%2x", &value) != 1)
            return false;
        out[i] = static_cast<unsigned char>(value);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    DCB start{};
    if (argc != 2 || !FromHex(argv[1], reinterpret_cast<unsigned char*>(&start), sizeof start)) {
        std::fprintf(stderr, "usage: dcb-probe START_HEX < strings\n");
        return 2;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        DCB dcb = start;
        const BOOL ok = ::BuildCommDCBA(line.c_str(), &dcb);
        std::printf("%d ", ok ? 1 : 0);
        const auto* bytes = reinterpret_cast<const unsigned char*>(&dcb);
        for (size_t i = 0; i < sizeof dcb; ++i)
            std::printf("%02x", bytes[i]);
        std::printf("\n");
    }
    return 0;
}
