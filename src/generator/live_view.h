#pragma once

#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QStaticText>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "analysis/level_meter.h"

namespace skarnel {

class SignalAnalyzer;

// What leaves the program, measured: per channel a meter of the last second
// (RMS bar, peak mark) with the RMS, peak and crest factor since ON beside
// it and a clip lamp, and below them the third-octave spectrum with its fine
// curve. It only
// reads a SignalAnalyzer that the window feeds with the played frames, on the
// GUI thread, at the display's pace; it never touches the signal.
//
// Drawn with QPainter in the palette's colours and the widget's font, so it
// follows light and dark themes and the device pixel ratio by itself.
class LiveView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 50;
    // Hidden, the view only keeps its analyzer fed, which may wait longer.
    static constexpr int kHiddenRefreshMs = 200;
    // While the signal moves, a meter's small steps are drawn every
    // kMeterStepTicks ticks (a jump of kMeterJumpDb or more at once), and
    // the figures since ON and the spectrum plot every kSlowTicks ticks, on
    // the same ticks, so that one paint draws them together. Once no new
    // frames came for a tick, everything shows what it measured.
    static constexpr int kMeterStepTicks = 2;
    static constexpr double kMeterJumpDb = 3.0;
    static constexpr int kSlowTicks = 4;
    // The meters' and the plot's ranges in dBFS.
    static constexpr double kMeterFloorDb = -60.0;
    static constexpr double kPlotFloorDb = -100.0;

    explicit LiveView(QWidget* parent = nullptr);

    // Shows what `analyzer` holds from now on, refreshed every kRefreshMs
    // while not frozen. The analyzer must outlive the following (until
    // Clear or another Follow).
    void Follow(const SignalAnalyzer* analyzer);
    // Frozen (paused playback): the figures shown stay as they are.
    void SetFrozen(bool frozen);
    // Nothing plays: dashes and an empty plot.
    void Clear();
    // The rows an empty view shows: the window's channel mode (1 or 2). A
    // view that follows an analyzer shows the analyzer's channels.
    void ShowEmptyChannels(int channels);
    // Reads the analyzer now and shows all of it.
    void Refresh() { Update(Pace::kAll); }
    // Runs at every tick of the view's timer, shown or hidden, and before the
    // last refresh of a pause: whoever feeds the analyzer does it then.
    void SetBeforeRefresh(std::function<void()> feed) { beforeRefresh_ = std::move(feed); }

    // The clip lamps. `sinceOn` holds, per channel, the samples clipped
    // since ON that have been heard: a channel's lamp lights when its count
    // rises and stays lit until the next ON (ResetClipped) or a click on it;
    // the count beside it runs since ON. Stopping leaves both as they are.
    void ShowClipped(const std::array<std::uint64_t, 2>& sinceOn);
    void ResetClipped();
    bool ClipLampLit(int channel) const;
    std::uint64_t ShownClipped(int channel) const;
    // Where a channel's lamp and its count lie; a click there puts it out.
    QRect ClipLamp(int channel) const;

    // The channels shown: 1 (mono) or 2.
    int channels() const noexcept { return channels_; }
    bool refreshing() const { return timer_.isActive(); }
    // The texts drawn beside a channel's meter: "RMS -15.3 dBFS",
    // "Peak -0.1 dBFS", "Crest 5.84:1 (15.2 dB)"; empty for a channel not shown.
    QStringList ShownTexts(int channel) const;
    // The third-octave levels drawn for a channel (dBFS); empty when none.
    const std::vector<double>& ShownBands(int channel) const;

    // Where a channel's meter bar lies, from kMeterFloorDb to 0 dBFS.
    QRect MeterBar(int channel) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    // The view's geometry for a font.
    struct Layout {
        explicit Layout(const QFont& font);
        int ChannelTop(int channel) const;
        int Height() const;

        int small;                   // a line of the small font
        int meterRow;                // a meter
        int figureRow;               // a line of figures
        int labelWidth;              // "L" / "R" before the meters
        std::array<int, 3> columns;  // the three figures' widths
        int figuresWidth;            // the three figures and their gaps
        int lampWidth;               // the clip lamp and its count
        int blockWidth;              // the left block, labels included
    };
    const Layout& layout() const;

    struct Channel {
        LevelFigures window;  // the last second
        QStringList texts;
        std::vector<double> bands;
        std::vector<double> fine;
    };

    // kPaced: the timer's tick, which draws what moves at the paces above.
    enum class Pace { kPaced, kAll };
    void Update(Pace pace);
    void ShowDashes();
    // Where the meters and figures lie, and where the spectrum lies.
    QRect MeterBlock() const;
    QRect SpectrumArea() const;
    // The line of a channel's figures under its meter.
    QRect FiguresLine(int channel) const;
    // The spectrum's frame, grid and labels, drawn again only when the size,
    // palette, font or pixel density changed.
    const QPixmap& SpectrumBackground();
    void PaintSpectrum(QPainter& painter);
    const QStaticText& FigureText(const QString& text);

    const SignalAnalyzer* analyzer_ = nullptr;
    std::function<void()> beforeRefresh_;
    std::uint64_t ticks_ = 0;
    std::uint64_t framesAtTick_ = 0;  // the analyzer's frames at the last tick
    QTimer timer_;
    bool frozen_ = false;
    int channels_ = 2;
    std::array<Channel, 2> shown_;
    std::array<std::uint64_t, 2> clipped_{};  // heard since ON
    std::array<bool, 2> lampLit_{};
    int sampleRate_ = 48000;
    std::vector<double> bandCentres_;
    std::vector<double> fineFrequencies_;
    // FFTs behind the spectrum shown, per channel: the plot is drawn again
    // only when a new one has come (12 times a second at 48 kHz), the meters
    // at every refresh.
    std::array<std::uint64_t, 2> shownTransforms_{};
    mutable std::optional<Layout> layout_;
    mutable QFont layoutFont_;
    QPixmap background_;
    struct BackgroundKey {
        QSize size;
        qreal density = 0.0;
        qint64 palette = 0;
        QFont font;
        bool operator==(const BackgroundKey&) const = default;
    };
    BackgroundKey backgroundKey_;
    QHash<QString, QStaticText> figureTexts_;
    QRect plot_;  // the plot inside the background, as drawn there
};

}  // namespace skarnel
