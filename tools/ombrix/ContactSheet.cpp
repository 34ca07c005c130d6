#include "ContactSheet.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "Commands.h"
#include "Progress.h"

namespace {

constexpr int Gap = 4;
constexpr long long MaxSide = 16384;
constexpr uint8_t Background = 32;

void paste(RgbPicture& sheet, const RgbPicture& piece, int x, int y)
{
    for (int row = 0; row < piece.height; row++)
        memcpy(sheet.Row(y + row) + size_t(x) * 3, piece.Row(row), size_t(piece.width) * 3);
}

}  // namespace

RgbPicture ContactSheet(MediaFile& file, unsigned int count, unsigned int columns, int width)
{
    const Ombrix_FileInfo& info = file.Info();
    file.CheckFrame(0);
    if (info.Width <= 0)
        throw Failure(file.Path() + ": has no picture width");
    count = std::min(count, file.Frames());
    columns = std::min(columns, count);
    const unsigned int rows = (count + columns - 1) / columns;
    const int height = (int)std::clamp((long long)width * std::abs(info.Height) / info.Width, 1ll, MaxSide);
    const long long sheetWidth = Gap + columns * (width + Gap), sheetHeight = Gap + rows * (height + Gap);
    if (sheetWidth > MaxSide || sheetHeight > MaxSide)
        throw Failure("a sheet of " + std::to_string(sheetWidth) + "x" + std::to_string(sheetHeight) +
                      " pixels is too large; at most " + std::to_string(MaxSide) + " on a side");
    RgbPicture sheet{int(sheetWidth), int(sheetHeight)};
    std::fill(sheet.pixels.begin(), sheet.pixels.end(), Background);

    Progress progress("thumbs", count);
    for (unsigned int i = 0; i < count; i++) {
        const unsigned int frame =
            count == 1 ? 0 : (unsigned int)((unsigned long long)i * (file.Frames() - 1) / (count - 1));
        paste(sheet, Scaled(file.Frame(frame), width, height), Gap + int(i % columns) * (width + Gap),
              Gap + int(i / columns) * (height + Gap));
        progress.Advance();
    }
    return sheet;
}
