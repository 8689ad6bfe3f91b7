// Writes the "BOUNCE" sound to the file named on the command line.
#include <cstdio>

#include "bounce_wave.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_bounce <output.wav>\n");
        return 2;
    }
    const std::vector<std::uint8_t> file = bounce::EncodeWave(bounce::Synthesize(), bounce::kSampleRate);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    bool ok = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
