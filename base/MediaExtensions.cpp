#include "base/MediaExtensions.h"

namespace media_extensions {

std::string extensionOf(std::string_view path)
{
    const auto dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos)
        return {};
    return std::string(path.substr(dot));
}

bool belongsTo(std::string_view path, std::string_view list)
{
    std::string ext = extensionOf(path);
    if (ext.empty())
        return false;
    for (char& c : ext)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return list.find(ext) != std::string_view::npos;
}

std::vector<std::string> entriesOf(std::string_view list)
{
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start < list.size()) {
        auto end = list.find(';', start);
        if (end == std::string_view::npos)
            end = list.size();
        if (end > start)
            entries.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

}  // namespace media_extensions
