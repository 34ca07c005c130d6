// The command-line host.
#include <cstdio>
#include <cstring>

#include "Commands.h"

static int usage()
{
    fprintf(stderr,
            "usage: ombrix demo          make example files and show what the parser finds in them\n");
    return 2;
}

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    if (strcmp(argv[1], "demo") == 0)
        return RunDemo(argc - 2, argv + 2);
    return usage();
}
