// File information records as text: side by side in a table, JSON, a one-line summary.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "ombrix/Ombrix_FileInfo.h"

// What one reader or query gave for a file: its record, or why it has none.
struct Column {
    std::string title;
    std::optional<Ombrix_FileInfo> record;
    std::string refusal;
};

const char* ColorSpaceName(unsigned char code);
void PrintTable(FILE* out, const std::string& path, const std::vector<Column>& columns);
void PrintJson(FILE* out, const std::string& path, const std::vector<Column>& columns);
std::string Summary(const Ombrix_FileInfo& record);
