// Parses any input as an AVI or WAV file and walks what was parsed as a reader would. The
// input's length picks which streams the parser is told to skip.
#include <cstdio>
#include <cstdlib>

#include "tests/TestSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ScratchDir dir;
    static const std::string path = dir.path("input");
    FILE* file = fopen(path.c_str(), "wb");
    if (!file || fwrite(data, 1, size, file) != size || fclose(file) != 0)
        abort();
    avihandle h(path.c_str(), size % 3 == 1, size % 3 == 2);
    if (!h.bError) {
        std::string fault = walkParsed(h);
        if (!fault.empty()) {
            fprintf(stderr, "%s\n", fault.c_str());
            abort();
        }
    }
    return 0;
}
