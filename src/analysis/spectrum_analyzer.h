#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct kiss_fftr_state;

namespace skarnel {

// The centre frequencies of the third-octave bands (IEC 61260, base ten:
// 1000 Hz x 10^(k/10)) from 20 Hz up to the last one below the Nyquist
// frequency, exact (19.95, 25.12, ..., 1000, 1258.9, ...); the nominal
// labels (20, 25, ..., 1k, 1.25k) are for display.
std::vector<double> ThirdOctaveCentres(int sampleRate);

// Whether the third-octave band around `centre` reaches past the Nyquist
// frequency of `sampleRate`. Only its part below that frequency holds any
// signal, so such a band reads low for a signal that fills it: the 4 kHz band
// at 8000 Hz lies partly above 4000 Hz and reads about 3 dB low for white
// noise. Figures show it as partial.
bool ThirdOctaveBandIsPartial(double centre, int sampleRate);

// The frequencies of the fine curve: 24 points per octave from 20 Hz up to
// the Nyquist frequency.
std::vector<double> FineCurveFrequencies(int sampleRate);

// Spectrum of one channel: Hann-windowed FFTs of `fftSize` samples, half
// overlapping, their power averaged both since the last Reset (a plain mean,
// for figures over a whole run) and recently (exponentially, with a time
// constant of kRecentSeconds, for a live view). Levels are the mean square a
// band holds relative to full scale, in dB, so the bands of a signal add up
// to its RMS level: a full-scale sine reads -3.01 dB in its band.
//
// All storage is allocated by the constructor; adding samples and reading
// levels into vectors of the right size never allocate.
class SpectrumAnalyzer {
public:
    static constexpr double kRecentSeconds = 1.0;
    // What an empty band or silence reads: far below anything 16 bits hold.
    static constexpr double kFloorDb = -200.0;

    enum class Average { kSinceReset, kRecent };

    SpectrumAnalyzer(int sampleRate, int fftSize);
    ~SpectrumAnalyzer();
    SpectrumAnalyzer(const SpectrumAnalyzer&) = delete;
    SpectrumAnalyzer& operator=(const SpectrumAnalyzer&) = delete;

    void Reset() noexcept;
    void Add(std::int16_t sample) noexcept;
    // `count` samples, `stride` apart: the same as adding them one by one.
    void Add(const std::int16_t* samples, std::size_t count, std::size_t stride) noexcept;

    int sampleRate() const noexcept { return sampleRate_; }
    int fftSize() const noexcept { return fftSize_; }
    double binHz() const noexcept { return static_cast<double>(sampleRate_) / fftSize_; }
    // FFTs since the last Reset; no levels before the first.
    std::uint64_t transforms() const noexcept { return transforms_; }

    const std::vector<double>& bandCentres() const noexcept { return bandCentres_; }
    const std::vector<double>& fineFrequencies() const noexcept { return fineFrequencies_; }

    // Levels in dB, one per band or fine-curve point (the fine curve as the
    // power a third-octave band there would hold, so it runs along the tops
    // of the bands). `levels` is resized only when its size differs.
    void BandLevels(Average which, std::vector<double>& levels) const;
    void FineLevels(Average which, std::vector<double>& levels) const;
    // Mean square per FFT bin (index 0 .. fftSize/2) relative to full scale,
    // averaged since the last Reset.
    double BinPower(std::size_t bin) const noexcept;

private:
    // Bins and the share of each that lies in one frequency range.
    struct Span {
        std::size_t first = 0;  // index into weights_
        std::size_t count = 0;
        double scale = 1.0;  // applied to the weighted sum
    };
    Span MakeSpan(double lowHz, double highHz, double scale);
    void Levels(const std::vector<Span>& spans, Average which, std::vector<double>& levels) const;
    void Transform() noexcept;

    int sampleRate_;
    int fftSize_;
    int hop_;
    double recentWeight_;
    kiss_fftr_state* plan_ = nullptr;
    std::vector<float> window_;
    std::vector<float> input_;  // ring of the last fftSize samples
    std::vector<float> frame_;
    std::vector<float> spectrum_;  // fftSize/2 + 1 complex values (re, im)
    std::vector<double> binScale_;
    std::vector<double> sum_;
    std::vector<double> recent_;
    std::size_t write_ = 0;
    std::size_t held_ = 0;  // samples in the ring, up to fftSize
    int sinceTransform_ = 0;
    std::uint64_t transforms_ = 0;

    std::vector<double> bandCentres_;
    std::vector<double> fineFrequencies_;
    std::vector<std::pair<std::size_t, double>> weights_;  // (bin, share)
    std::vector<Span> bandSpans_;
    std::vector<Span> fineSpans_;
};

}  // namespace skarnel
