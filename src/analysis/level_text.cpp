#include "analysis/level_text.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace skarnel {

namespace {

std::string Printed(const char* format, double value) {
    std::array<char, 48> text{};
    std::snprintf(text.data(), text.size(), format, value);
    return text.data();
}

}  // namespace

std::string DbfsText(double db, int decimals) {
    if (!std::isfinite(db)) {
        return "\u2014";
    }
    const double scale = std::pow(10.0, decimals);
    double rounded = std::nearbyint(db * scale) / scale;
    if (rounded == 0.0) {
        rounded = 0.0;  // no "-0.0"
    }
    std::array<char, 48> text{};
    std::snprintf(text.data(), text.size(), "%.*f", decimals, rounded);
    return text.data();
}

std::string CrestRatioText(double ratio) {
    if (!std::isfinite(ratio) || ratio <= 0.0) {
        return "\u2014";
    }
    return Printed("%.2f", ratio) + ":1";
}

std::string FrequencyText(double hz) {
    if (hz >= 1000.0) {
        return Printed("%g", std::round(hz / 10.0) / 100.0) + "k";
    }
    return Printed("%g", std::round(hz * 10.0) / 10.0);
}

std::string NominalBandText(double centreHz) {
    static constexpr std::array<double, 10> kNominal{10, 12.5, 16, 20, 25, 31.5, 40, 50, 63, 80};
    const auto k = static_cast<long>(std::lround(10.0 * std::log10(centreHz / 10.0)));
    const long decade = k >= 0 ? k / 10 : -((-k + 9) / 10);
    const long step = k - decade * 10;
    return FrequencyText(kNominal[static_cast<std::size_t>(step)] *
                         std::pow(10.0, static_cast<double>(decade)));
}

std::string GroupedCount(std::uint64_t count) {
    const std::string digits = std::to_string(count);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

std::string ClippedMessage(std::uint64_t clippedSamples) {
    return GroupedCount(clippedSamples) +
           (clippedSamples == 1 ? " sample was clipped" : " samples were clipped") +
           ": lower the amplitude or the filter gain";
}

}  // namespace skarnel
