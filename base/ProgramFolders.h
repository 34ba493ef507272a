#pragma once

#include <string>

// Where the program, its tools, the FFmpeg library folders and the scratch folder live.
namespace program_folders {

// The folder of the running executable, resolved, without a trailing "/".
std::string programFolder();

// $AURALON_WINDOWS_DIR when set and not empty, else the program folder.
std::string windowsDirectory();

// windowsDirectory() + "/qvx/": holds client123 (the converter), client (the normaliser) and
// meter (the measuring worker).
std::string toolFolder();
std::string converterPath();   // toolFolder() + "client123"
std::string normalizerPath();  // toolFolder() + "client"
std::string meterPath();       // toolFolder() + "meter"

// $AURALON_SYSTEM_DIR when set and not empty, else the program folder; always ends in "/".
std::string system_dir();

// The two folders the FFmpeg libraries are looked for in, in this order.
std::string libraryFolderA();  // system_dir() + "qvx/ff"
std::string libraryFolderB();  // programFolder() + "/redist/ff"

// programFolder() + "/tmp/" when that folder exists or can be created and is writable;
// else $XDG_CACHE_HOME/auralon/tmp/ (default ~/.cache/auralon/tmp/). Ends in "/".
// Creates the folder it returns; returns "" when neither can be made.
std::string scratchFolder();

}  // namespace program_folders
