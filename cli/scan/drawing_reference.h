// Drawings named where a drawing file is expected: a file of either form,
// or FILE@N, drawing N of FILE as `pennaro scan` numbers them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/drawings/drawing_file.h"

namespace pennaro_cli {

// FILE@N: the bytes of drawing N of `file`, as found (decoded, in the
// writer's byte order). Throws ToolError naming the file when there are
// fewer drawings; messages name the drawing `reference` (FILE@N as the user
// wrote it) when given.
std::vector<uint8_t> drawingBytesAt(const std::filesystem::path &file, int number, const std::string &reference = "");

// Splits "name@N" into name and N when the name as given does not exist
// and name does; false otherwise. An N too large for an int gives the
// largest int.
bool splitDrawingReference(const std::string &given, std::filesystem::path &file, int &number);

// The bytes of a drawing file or of FILE@N (when no file has that name).
std::vector<uint8_t> readDrawingBytes(const std::filesystem::path &path);

// Reads a drawing (block in either byte order, or JSON; told apart by
// content) and returns it as a checked little-endian block. Throws ToolError
// for unreadable, damaged or memory-form files.
LoadedDrawing loadDrawingFile(const std::filesystem::path &path);

}  // namespace pennaro_cli
