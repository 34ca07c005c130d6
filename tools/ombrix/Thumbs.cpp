// `ombrix thumbs FILE -o sheet.png [--count N] [--columns C] [--width W] [--graph]`: a contact sheet.
#include "Arguments.h"
#include "Commands.h"
#include "ContactSheet.h"

int RunThumbs(int argc, char** argv)
{
    Arguments arguments(argc, argv, {"-o", "--count", "--columns", "--width"}, {"--graph"});
    const auto output = arguments.Value("-o");
    if (arguments.Positional().size() != 1 || !output)
        throw UsageError("thumbs takes one file and -o sheet.png");
    const auto count = (unsigned int)Number(arguments.Value("--count").value_or("12"), "--count", 1, 1000);
    const auto columns = (unsigned int)Number(arguments.Value("--columns").value_or("4"), "--columns", 1, 100);
    const int width = (int)Number(arguments.Value("--width").value_or("240"), "--width", 8, 1920);

    const auto file = MediaFile::ForCommand(arguments.Positional()[0], arguments.Flag("--graph"), false, true);
    WritePng(ContactSheet(*file, count, columns, width), *output);
    return 0;
}
