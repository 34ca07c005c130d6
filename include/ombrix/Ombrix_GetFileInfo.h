// What a media file holds, without opening a reader on it.
#pragma once

#include "OmbrixTypes.h"
#include "Ombrix_FileInfo.h"

// Fills info with the file's streams (whether it has video and audio, their lengths, the video
// frame rate) and its size and data rate; every other field is 0. False when the file cannot be
// described or a stream has no length. Callable from any thread.
OMBRIX_API bool Ombrix_GetFileInfo(char* fileName, Ombrix_FileInfo& info);
