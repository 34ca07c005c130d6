// Everything a host links against.
#pragma once

#include "ACM_Tools.h"
#include "AVIReader.h"
#include "Ombrix_DVOutput.h"
#include "Ombrix_FileInfo.h"
#include "Ombrix_GetFileInfo.h"
#include "OmbrixReader.h"
#include "OmbrixWriter.h"
#include "OmbrixTypes.h"
#include "platform.h"
