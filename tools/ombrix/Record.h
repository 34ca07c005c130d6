// The file information record as text: a table, JSON, a one-line summary.
#pragma once

#include <cstdio>
#include <string>

#include "ombrix/Ombrix_FileInfo.h"

const char* ColorSpaceName(unsigned char code);
void PrintTable(FILE* out, const std::string& path, const Ombrix_FileInfo& record);
void PrintJson(FILE* out, const std::string& path, const Ombrix_FileInfo& record);
std::string Summary(const Ombrix_FileInfo& record);
