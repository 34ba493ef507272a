#include "base/SetGroups.h"

namespace set_groups {

std::string_view groupOf(std::string_view path, bool byFolder)
{
    const std::size_t slash = path.rfind('/');
    return byFolder && slash != std::string_view::npos ? path.substr(0, slash) : std::string_view();
}

}  // namespace set_groups
