// rngprobe: draws from one random-number stream of the framework.
//
//   rngprobe [--uniform] METHOD SEED STREAM N [--uniform]
//
// Creates a stream of METHOD (the method setting's names) with the seed and
// stream number and prints N draws of the method's native integer output
// (32 bits for the 32-bit methods, 64 for the others) in lower-case hex, one
// a line; with --uniform the stream's uniform doubles with 17 significant
// digits. Messages of the framework go to standard error.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "hostsim/hostsim.h"
#include "hostsim/toolkit.h"
#include "rng/rng.h"

extern "C" const TOV_Image_Information* mcn_main(void* host, void* module);

namespace {

int usage()
{
    std::fprintf(stderr, "usage: rngprobe [--uniform] METHOD SEED STREAM N [--uniform]\n");
    return 2;
}

bool number(const char* text, uint64_t* out)
{
    char* end = nullptr;
    *out = std::strtoull(text, &end, 0);
    return end && end != text && *end == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // --uniform may come first or last.
    bool uniform = false;
    int first = 1;
    if (argc > 1 && std::string(argv[1]) == "--uniform") {
        uniform = true;
        first = 2;
    } else if (argc == 6 && std::string(argv[5]) == "--uniform") {
        uniform = true;
        argc = 5;
    }
    if (argc - first != 4)
        return usage();
    uint64_t seed, stream, count;
    if (!number(argv[first + 1], &seed) || !number(argv[first + 2], &stream) || !number(argv[first + 3], &count))
        return usage();

    hostsim::Host& h = hostsim::host();
    h.echo = &std::cerr;
    h.fatal_exits = true;
    mcn_main(&h.vec, nullptr);
    h.tk().set_text("OSENV.TOV_RNG_METHOD", argv[first]);

    RngStream* s = xkRngStreamCreate(&h.main_task()->handle, seed, stream);
    if (!s) {
        std::fprintf(stderr, "rngprobe: no memory for the stream\n");
        return 1;
    }
    if (s->status)
        std::fprintf(stderr, "rngprobe: the stream of %s reports 0x%08X and uses %s\n", argv[first],
                     static_cast<uint32_t>(s->status), s->embedded.name);
    const RngMethodOps& ops = s->method->ops;
    bool narrow = s->method->output_bits <= 32;
    for (uint64_t i = 0; i < count; i++) {
        if (uniform)
            std::printf("%.17g\n", s->uniform(s->state));
        else if (narrow)
            std::printf("%08" PRIx32 "\n", ops.next32(s->state));
        else
            std::printf("%016" PRIx64 "\n", ops.next64(s->state));
    }
    return 0;
}
