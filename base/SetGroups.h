#pragma once

#include <string_view>

// Which files form one set in the album and average modes: the whole list, or each folder's
// files (an album per folder). The job, its plan and a merge over many machines group alike.
namespace set_groups {

// The group of a file named by a path (absolute, or a key relative to a root): its folder when
// each folder is a set, else "" (the whole list). A name without a folder is of group "".
std::string_view groupOf(std::string_view path, bool byFolder);

}  // namespace set_groups
