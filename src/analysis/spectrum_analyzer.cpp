#include "analysis/spectrum_analyzer.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace skarnel {

namespace {

constexpr double kFullScale = 32768.0;
// Band edges lie half a band either side of the centre: 10^(1/20).
const double kHalfBand = std::pow(10.0, 1.0 / 20.0);
// The fine curve's points are a 24th of an octave apart; each takes the bins
// half that far either side.
const double kHalfFineStep = std::pow(2.0, 1.0 / 48.0);

}  // namespace

std::vector<double> ThirdOctaveCentres(int sampleRate) {
    std::vector<double> centres;
    const double nyquist = sampleRate / 2.0;
    for (int k = -17;; ++k) {  // 1000 x 10^(-1.7) = 19.95 Hz
        const double centre = 1000.0 * std::pow(10.0, k / 10.0);
        if (centre >= nyquist) {
            break;
        }
        centres.push_back(centre);
    }
    return centres;
}

bool ThirdOctaveBandIsPartial(double centre, int sampleRate) {
    return centre * kHalfBand > sampleRate / 2.0;
}

std::vector<double> FineCurveFrequencies(int sampleRate) {
    std::vector<double> frequencies;
    const double nyquist = sampleRate / 2.0;
    for (int i = 0;; ++i) {
        const double f = 20.0 * std::pow(2.0, i / 24.0);
        if (f >= nyquist) {
            break;
        }
        frequencies.push_back(f);
    }
    return frequencies;
}

SpectrumAnalyzer::SpectrumAnalyzer(int sampleRate, int fftSize)
    : sampleRate_(std::max(sampleRate, 1)),
      fftSize_(std::max(fftSize - fftSize % 2, 16)),
      hop_(fftSize_ / 2),
      window_(static_cast<std::size_t>(fftSize_)),
      input_(static_cast<std::size_t>(fftSize_)),
      frame_(static_cast<std::size_t>(fftSize_)),
      spectrum_(static_cast<std::size_t>(fftSize_ + 2)),
      binScale_(static_cast<std::size_t>(fftSize_ / 2 + 1)),
      sum_(binScale_.size()),
      recent_(binScale_.size()),
      bandCentres_(ThirdOctaveCentres(sampleRate_)),
      fineFrequencies_(FineCurveFrequencies(sampleRate_)) {
    plan_ = kiss_fftr_alloc(fftSize_, 0, nullptr, nullptr);
    // Periodic Hann window. The bins' scale makes the one-sided powers add up
    // to the windowed frame's mean square (Parseval, corrected for the
    // window's own power), relative to full scale.
    double windowPower = 0.0;
    for (int n = 0; n < fftSize_; ++n) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / fftSize_);
        window_[static_cast<std::size_t>(n)] = static_cast<float>(w);
        windowPower += w * w;
    }
    for (std::size_t k = 0; k < binScale_.size(); ++k) {
        const double sides = (k == 0 || k + 1 == binScale_.size()) ? 1.0 : 2.0;
        binScale_[k] = sides / (fftSize_ * windowPower * kFullScale * kFullScale);
    }
    recentWeight_ = std::min(1.0, hop_ / (sampleRate_ * kRecentSeconds));

    for (const double centre : bandCentres_) {
        bandSpans_.push_back(MakeSpan(centre / kHalfBand, centre * kHalfBand, 1.0));
    }
    // A fine point's weighted bins hold the power of its own narrow range;
    // scaled to a third-octave band's width it lines up with the bands.
    const double toThirdOctave =
        (kHalfBand - 1.0 / kHalfBand) / (kHalfFineStep - 1.0 / kHalfFineStep);
    for (const double f : fineFrequencies_) {
        fineSpans_.push_back(MakeSpan(f / kHalfFineStep, f * kHalfFineStep, toThirdOctave));
    }
}

SpectrumAnalyzer::~SpectrumAnalyzer() {
    kiss_fftr_free(plan_);
}

// Bin k covers (k - 1/2 .. k + 1/2) x binHz; a range takes each bin in the
// share that overlaps it, so a narrow band at low frequencies gets its part
// of a bin rather than all or nothing.
SpectrumAnalyzer::Span SpectrumAnalyzer::MakeSpan(double lowHz, double highHz, double scale) {
    Span span{weights_.size(), 0, scale};
    const double width = binHz();
    const double nyquist = sampleRate_ / 2.0;
    highHz = std::min(highHz, nyquist);
    const auto lastBin = binScale_.size() - 1;
    const auto first = static_cast<std::size_t>(std::max(0.0, std::floor(lowHz / width + 0.5)));
    for (std::size_t k = first; k <= lastBin; ++k) {
        const double binLow = (static_cast<double>(k) - 0.5) * width;
        const double binHigh = (static_cast<double>(k) + 0.5) * width;
        if (binLow >= highHz) {
            break;
        }
        const double overlap = std::min(binHigh, highHz) - std::max(binLow, lowHz);
        if (overlap > 0.0) {
            weights_.emplace_back(k, overlap / width);
            ++span.count;
        }
    }
    return span;
}

void SpectrumAnalyzer::Reset() noexcept {
    std::fill(input_.begin(), input_.end(), 0.0f);
    std::fill(sum_.begin(), sum_.end(), 0.0);
    std::fill(recent_.begin(), recent_.end(), 0.0);
    write_ = 0;
    held_ = 0;
    sinceTransform_ = 0;
    transforms_ = 0;
}

void SpectrumAnalyzer::Add(std::int16_t sample) noexcept {
    input_[write_] = static_cast<float>(sample);
    write_ = write_ + 1 == input_.size() ? 0 : write_ + 1;
    held_ = std::min(held_ + 1, input_.size());
    if (++sinceTransform_ >= hop_ && held_ == input_.size()) {
        sinceTransform_ = 0;
        Transform();
    }
}

void SpectrumAnalyzer::Add(const std::int16_t* samples, std::size_t count,
                           std::size_t stride) noexcept {
    const std::size_t n = input_.size();
    while (count > 0) {
        // A run that neither wraps the ring nor passes the next transform,
        // which comes with the sample that fills the ring and is a hop
        // after the last one.
        const auto hopLeft = static_cast<std::size_t>(std::max(hop_ - sinceTransform_, 1));
        const std::size_t untilTransform = std::max(n - held_, hopLeft);
        const std::size_t run = std::min({count, n - write_, untilTransform});
        for (std::size_t i = 0; i < run; ++i) {
            input_[write_ + i] = static_cast<float>(samples[i * stride]);
        }
        write_ = write_ + run == n ? 0 : write_ + run;
        held_ = std::min(held_ + run, n);
        sinceTransform_ += static_cast<int>(run);
        if (sinceTransform_ >= hop_ && held_ == n) {
            sinceTransform_ = 0;
            Transform();
        }
        samples += run * stride;
        count -= run;
    }
}

void SpectrumAnalyzer::Transform() noexcept {
    // The ring's oldest sample sits at write_.
    const std::size_t n = input_.size();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t from = write_ + i < n ? write_ + i : write_ + i - n;
        frame_[i] = input_[from] * window_[i];
    }
    auto* bins = reinterpret_cast<kiss_fft_cpx*>(spectrum_.data());
    kiss_fftr(plan_, frame_.data(), bins);
    ++transforms_;
    const double weight = transforms_ == 1 ? 1.0 : recentWeight_;
    for (std::size_t k = 0; k < binScale_.size(); ++k) {
        const double re = bins[k].r;
        const double im = bins[k].i;
        const double power = (re * re + im * im) * binScale_[k];
        sum_[k] += power;
        recent_[k] += weight * (power - recent_[k]);
    }
}

double SpectrumAnalyzer::BinPower(std::size_t bin) const noexcept {
    if (transforms_ == 0 || bin >= sum_.size()) {
        return 0.0;
    }
    return sum_[bin] / static_cast<double>(transforms_);
}

void SpectrumAnalyzer::Levels(const std::vector<Span>& spans, Average which,
                              std::vector<double>& levels) const {
    if (levels.size() != spans.size()) {
        levels.resize(spans.size());
    }
    const bool sinceReset = which == Average::kSinceReset;
    const double divisor = sinceReset && transforms_ > 0 ? static_cast<double>(transforms_) : 1.0;
    const std::vector<double>& power = sinceReset ? sum_ : recent_;
    for (std::size_t b = 0; b < spans.size(); ++b) {
        const Span& span = spans[b];
        double total = 0.0;
        for (std::size_t i = span.first; i < span.first + span.count; ++i) {
            total += weights_[i].second * power[weights_[i].first];
        }
        total = total * span.scale / divisor;
        levels[b] = total > 0.0 && transforms_ > 0 ? std::max(kFloorDb, 10.0 * std::log10(total))
                                                   : kFloorDb;
    }
}

void SpectrumAnalyzer::BandLevels(Average which, std::vector<double>& levels) const {
    Levels(bandSpans_, which, levels);
}

void SpectrumAnalyzer::FineLevels(Average which, std::vector<double>& levels) const {
    Levels(fineSpans_, which, levels);
}

}  // namespace skarnel
