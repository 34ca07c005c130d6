// Everything a host links against.
#pragma once

#include "Ombrix_FileInfo.h"
#include "platform.h"
