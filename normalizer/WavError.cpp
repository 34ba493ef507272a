#include "normalizer/WavError.h"

#include <cstring>

std::string systemReason(const std::string& action, int errnum)
{
    return action + ": " + std::strerror(errnum);
}
