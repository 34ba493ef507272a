#include "conversion/PeakGain.h"

#include "conversion/ConversionCommand.h"
#include "conversion/OutputNames.h"

#include <charconv>
#include <cmath>

namespace {

std::string fixed(double value, int decimals)
{
    char text[64];
    const auto [last, error] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return error == std::errc() ? std::string(text, last) : std::string();
}

}  // namespace

std::optional<PeakGain> PeakGain::fromText(std::string_view text)
{
    std::string figure = output_names::trimmed(text);
    if (!conversion_command::isPlainNumber(figure))
        return std::nullopt;
    const std::size_t point = figure.find('.');
    const std::size_t exponent = figure.find_first_of("eE");
    PeakGain gain;
    gain.decimals = point == std::string::npos
                        ? 0
                        : static_cast<int>(std::min(exponent, figure.size()) - point - 1);
    if (figure.front() == '+')
        figure.erase(0, 1);
    std::from_chars(figure.data(), figure.data() + figure.size(), gain.db);
    if (gain.db == 0.0)
        gain.db = 0.0;  // zero has no sign: "-0.0" would read as a cut
    return gain;
}

std::string PeakGain::text() const
{
    return fixed(db, decimals);
}

std::string PeakGain::appliedText() const
{
    if (db == 0.0)
        return text();
    return fixed(db - 0.5 * std::pow(10.0, -decimals), decimals + 1);
}
