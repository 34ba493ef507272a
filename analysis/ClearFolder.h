#pragma once

#include "conversion/FileIdentity.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace folder_cleanup {

// Deletes every file below `path`, keeping the folders themselves (the scratch folder is
// emptied this way at the end of a job). A symbolic link is removed as a link, whether it
// points at a file or a folder, and is never followed: nothing outside `path` is deleted.
// `path` itself may be a link to the folder to clear. Entries that cannot be deleted and
// folders that cannot be opened are left as they are. `afterEachEntry`, when given, is called
// once after each entry (files, links and folders alike). Files in `keep` (a job's sources
// and outputs, by identity, so hard links count too) stay. Returns the number of entries
// deleted.
std::size_t clear_folder(const std::string& path, const std::function<void()>& afterEachEntry = {},
                         const std::vector<file_identity::FileId>& keep = {});

}  // namespace folder_cleanup
