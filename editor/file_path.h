// File names as the editor receives them: narrow texts in the machine's ANSI
// code page, from the common dialogs and from the working folder. Every file
// operation of the editor turns such a name into a std::filesystem::path here
// and opens streams and calls the file system with that path, so that it
// names exactly the file the user chose, whatever the code page.
#pragma once

#include <filesystem>
#include <string>

namespace qova {

// On Windows the name is decoded from the ANSI code page; elsewhere its bytes
// are taken as they are. An empty name gives an empty path.
std::filesystem::path ansiPath(const std::string& name);

// The process's working folder as an ANSI name (at most 511 characters);
// empty when it cannot be found or does not fit.
std::string currentDirectory();

}  // namespace qova
