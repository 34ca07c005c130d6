// `ombrix info FILE [--json]`: the file information records of the readers that take the file
// and of the file information query, side by side.
#include <cstdio>

#include "Arguments.h"
#include "Commands.h"
#include "MediaFile.h"
#include "Record.h"
#include "ombrix/Ombrix_GetFileInfo.h"

int RunInfo(int argc, char** argv)
{
    Arguments arguments(argc, argv, {}, {"--json"});
    if (arguments.Positional().size() != 1)
        throw UsageError("info takes one file");
    const std::string& path = arguments.Positional()[0];
    MediaFile::CheckReadable(path);

    std::vector<Column> columns;
    std::vector<std::string> refusals;
    for (Reader reader : MediaFile::ReadersFor(path, false)) {
        Column& column = columns.emplace_back(Column{ReaderName(reader), {}, {}});
        if (auto file = MediaFile::Open(path, reader, column.refusal))
            column.record = file->Info();
        else
            refusals.push_back(column.title + ": " + column.refusal);
    }
    if (refusals.size() == columns.size())
        throw MediaFile::Unopened(path, refusals);

    Column& query = columns.emplace_back(Column{"Ombrix_GetFileInfo", Ombrix_FileInfo(), {}});
    std::vector<char> name(path.c_str(), path.c_str() + path.size() + 1);
    if (!Ombrix_GetFileInfo(name.data(), *query.record)) {
        query.record.reset();
        query.refusal = "the file cannot be described, or a stream has no length";
    }
    (arguments.Flag("--json") ? PrintJson : PrintTable)(stdout, path, columns);
    return 0;
}
