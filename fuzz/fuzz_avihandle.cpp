// Parses any input as an AVI or WAV file, with each choice of skipped streams, and walks what
// was parsed as a reader would.
#include <cstdio>
#include <cstdlib>

#include "tests/AviTestSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ScratchDir dir;
    static const std::string path = dir.path("input");
    FILE* file = fopen(path.c_str(), "wb");
    if (!file || fwrite(data, 1, size, file) != size || fclose(file) != 0)
        abort();
    const bool skips[][2] = {{false, false}, {true, false}, {false, true}};
    for (const auto& skip : skips) {
        avihandle h(path.c_str(), skip[0], skip[1]);
        if (h.bError)
            continue;
        std::string fault = walkParsed(h);
        if (!fault.empty()) {
            fprintf(stderr, "%s\n", fault.c_str());
            abort();
        }
    }
    return 0;
}
