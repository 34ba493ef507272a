#pragma once

#include "conversion/ProbeFacts.h"

#include <string>

class TFFDecoder;

namespace source_probe {

// The probe of one file for a job or its check: false with the reason when it cannot be opened.
// The probe throws when a library it needs is missing; that is a file that cannot be opened too.
bool probe(TFFDecoder& decoder, const std::string& path, ProbeFacts& facts, std::string& error);

}  // namespace source_probe
