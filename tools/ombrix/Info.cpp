// `ombrix info FILE [--json]`: the file information record.
#include <cstdio>

#include "Arguments.h"
#include "Commands.h"
#include "MediaFile.h"
#include "Record.h"

int RunInfo(int argc, char** argv)
{
    Arguments arguments(argc, argv, {}, {"--json"});
    if (arguments.Positional().size() != 1)
        throw UsageError("info takes one file");
    MediaFile file(arguments.Positional()[0]);
    (arguments.Flag("--json") ? PrintJson : PrintTable)(stdout, file.Path(), file.Info());
    return 0;
}
