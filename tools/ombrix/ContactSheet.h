// A contact sheet: evenly spaced frames of a file as thumbnails in a grid.
#pragma once

#include "MediaFile.h"

// count frames, from the first to the last, each width pixels wide keeping the picture's
// aspect, columns to a row. Fewer when the file has fewer frames.
RgbPicture ContactSheet(MediaFile& file, unsigned int count, unsigned int columns, int width);
