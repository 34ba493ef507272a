#pragma once

#include <vector>

namespace testsupport {

// Every process below `parent`, children first.
std::vector<long> descendantsOf(long parent);

// True while a process with this id exists and is not a zombie.
bool processAlive(long pid);

}  // namespace testsupport
