// The one way Dornick's extra outputs reach the disk, and the check made
// before any work starts that each output path can be created.
#pragma once

#include <string>

// Ends the process with status 1 and "failure in opening file <path>" when the
// file could not be created; an existing file is left as it was.
void checkOutputCreatable(const std::string& path);

// Writes the whole file; ends the process with status 1 and the label map's
// file messages when it cannot be opened, written or closed.
void writeOutputFile(const std::string& path, const std::string& bytes);

// The part of the file name after its last dot, "" without one.
std::string extensionOf(const std::string& path);
