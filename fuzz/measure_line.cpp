// The measuring mode's result line as the program reads it (and as records of it will be read
// back): whatever it accepts, it writes again in the same form and reads back to the same figures.
#include "FuzzCheck.h"

#include "MeasureLine.h"

#include <cmath>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::optional<Measurement> read = measure_line::parse(line);
    if (!read)
        return 0;
    FUZZ_CHECK(!std::isnan(read->integratedLufs) && read->rangeLu >= 0 && read->seconds >= 0);
    const std::optional<Measurement> again = measure_line::parse(measure_line::format(*read));
    FUZZ_CHECK(again && again->blocks == read->blocks);
    FUZZ_CHECK(std::isinf(again->truePeakDbtp) == std::isinf(read->truePeakDbtp));
    FUZZ_CHECK(std::isinf(read->truePeakDbtp) || std::fabs(again->truePeakDbtp - read->truePeakDbtp) <= 0.00005);
    return 0;
}
