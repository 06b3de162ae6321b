// The one way Dornick's extra outputs reach the disk, and the checks made
// before any work starts that the outputs can be written and destroy nothing.
#pragma once

#include <string>
#include <vector>

// Ends the process with status 1 when an output would replace the input, when
// two outputs are one file, or when an output is a symbolic link to nothing.
// Files are compared by what they are (device and inode; for a name not yet
// taken, its folder's and the name), so "./x", links and hard links count as x.
// Devices, pipes and the program's own streams are written in place and never
// collide.
void checkOutputIdentities(const std::string& inputPath, const std::vector<std::string>& outputPaths);

// Ends the process with status 1 and "failure in opening file <path>" when the
// file could not be created or replaced, with the reason on standard error; an
// existing file is left as it was.
void checkOutputCreatable(const std::string& path);

// Writes the whole file; ends the process with status 1 and the label map's
// file messages when it cannot be opened, written or closed.
void writeOutputFile(const std::string& path, const std::string& bytes);

// The part of the file name after its last dot in lower case, so that "P.PNG"
// and "R.JSON" mean what they say; "" without one.
std::string extensionOf(const std::string& path);
