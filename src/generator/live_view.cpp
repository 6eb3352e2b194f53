#include "generator/live_view.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "analysis/level_text.h"
#include "analysis/signal_analyzer.h"
#include "generator/live_view_drawing.h"

namespace skarnel {

namespace {

constexpr int kMargin = 4;
constexpr int kGap = 8;
constexpr int kPlotHeight = 120;
constexpr int kMinMeterWidth = 240;
constexpr int kPlotWidth = 440;
constexpr int kMinPlotWidth = 260;
const QString kDash = QString::fromUtf8("\u2014");

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// The figures since ON as the view writes them.
QStringList FigureTexts(const LevelFigures& figures) {
    if (figures.silent) {
        return {"RMS " + kDash, "Peak " + kDash, "Crest " + kDash};
    }
    return {"RMS " + Text(DbfsText(figures.rmsDbfs)) + " dBFS",
            "Peak " + Text(DbfsText(figures.peakDbfs)) + " dBFS",
            "Crest " + Text(CrestRatioText(figures.crestRatio)) + " (" +
                Text(DbfsText(figures.crestDb)) + " dB)"};
}

// Two meter readings that draw the same bar: the same device pixels for its
// length and for its peak mark. The figures move with every sample; the bar
// only now and then, and drawing is most of what the view costs.
bool SameBar(const LevelFigures& a, const LevelFigures& b, const QRect& bar, double pixelRatio,
             double floorDb) {
    if (a.silent != b.silent) {
        return false;
    }
    if (a.silent) {
        return true;
    }
    const auto pixel = [&](double db) {
        return std::lround(MeterX(bar, db, floorDb) * pixelRatio);
    };
    return pixel(a.rmsDbfs) == pixel(b.rmsDbfs) && pixel(a.peakDbfs) == pixel(b.peakDbfs);
}

// Widths of the three figure columns, wide enough for their longest texts.
std::array<int, 3> FigureColumns(const QFontMetrics& metrics) {
    return {metrics.horizontalAdvance(QStringLiteral("RMS -100.0 dBFS")),
            metrics.horizontalAdvance(QStringLiteral("Peak -100.0 dBFS")),
            metrics.horizontalAdvance(QStringLiteral("Crest 99.99:1 (99.9 dB)"))};
}

// The clip lamp's count as drawn beside it.
QString ClipText(std::uint64_t clipped) {
    return clipped == 0 ? QStringLiteral("Clip")
                        : QStringLiteral("Clip ") + Text(GroupedCount(clipped));
}

QFont SmallFont(QFont font) {
    font.setPointSizeF(font.pointSizeF() > 0 ? font.pointSizeF() * 0.85 : 8.0);
    return font;
}

}  // namespace

// Two blocks side by side, so the view adds little height to the window:
// at the left the meters' scale (small), then per channel its meter and the
// figures under it, and a small caption; at the right the spectrum plot,
// as tall as the left block and at least kPlotHeight.
LiveView::Layout::Layout(const QFont& font) : small(QFontMetrics(SmallFont(font)).height()) {
    const QFontMetrics metrics(font);
    meterRow = metrics.height() + 4;
    figureRow = metrics.height() + 2;
    labelWidth = metrics.horizontalAdvance(QStringLiteral("R")) + kGap;
    columns = FigureColumns(metrics);
    figuresWidth = 0;
    for (const int column : columns) {
        figuresWidth += column + kGap;
    }
    lampWidth = metrics.height() + metrics.horizontalAdvance(ClipText(999'999'999));
    blockWidth = labelWidth + std::max(kMinMeterWidth, figuresWidth + lampWidth);
}

int LiveView::Layout::ChannelTop(int channel) const {
    return kMargin + small + channel * (meterRow + figureRow);
}

int LiveView::Layout::Height() const {
    return std::max(ChannelTop(2) + small, kPlotHeight) + 2 * kMargin;
}

// Measuring text is dear (it shapes the text), and the view asks for its
// geometry several times a refresh: the figures are measured again only when
// the font changed.
const LiveView::Layout& LiveView::layout() const {
    if (!layout_ || layoutFont_ != font()) {
        layoutFont_ = font();
        layout_.emplace(layoutFont_);
    }
    return *layout_;
}

LiveView::LiveView(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // The view paints every pixel of what it updates, so the window behind it
    // is not painted again 25 times a second.
    setAttribute(Qt::WA_OpaquePaintEvent);
    timer_.setInterval(kRefreshMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (beforeRefresh_) {
            beforeRefresh_();
        }
        if (isVisible()) {
            Update(Pace::kPaced);
        }
        if (const int pace = isVisible() ? kRefreshMs : kHiddenRefreshMs;
            timer_.interval() != pace) {
            timer_.setInterval(pace);
        }
    });
    ShowDashes();
}

void LiveView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (timer_.isActive() && timer_.interval() != kRefreshMs) {
        timer_.start(kRefreshMs);  // the hidden pace ends at once
    }
}

void LiveView::Follow(const SignalAnalyzer* analyzer) {
    analyzer_ = analyzer;
    frozen_ = false;
    channels_ = analyzer->format().channels;
    sampleRate_ = analyzer->format().sampleRate;
    bandCentres_ = analyzer->spectrum(0).bandCentres();
    fineFrequencies_ = analyzer->spectrum(0).fineFrequencies();
    ShowDashes();
    timer_.start();
}

void LiveView::SetFrozen(bool frozen) {
    frozen_ = frozen;
    if (analyzer_ == nullptr) {
        return;
    }
    if (frozen) {
        // What was played up to the pause, shown until it ends.
        if (beforeRefresh_) {
            beforeRefresh_();
        }
        Refresh();
        timer_.stop();
    } else {
        timer_.start();
    }
}

void LiveView::Clear() {
    analyzer_ = nullptr;
    timer_.stop();
    ShowDashes();
}

void LiveView::ShowClipped(const std::array<std::uint64_t, 2>& sinceOn) {
    for (int c = 0; c < 2; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (sinceOn[i] != clipped_[i]) {
            lampLit_[i] = lampLit_[i] || sinceOn[i] > clipped_[i];
            clipped_[i] = sinceOn[i];
            update(ClipLamp(c));
        }
    }
}

void LiveView::ResetClipped() {
    clipped_ = {};
    lampLit_ = {};
    update(MeterBlock());
}

bool LiveView::ClipLampLit(int channel) const {
    return channel >= 0 && channel < 2 && lampLit_[static_cast<std::size_t>(channel)];
}

std::uint64_t LiveView::ShownClipped(int channel) const {
    return channel >= 0 && channel < 2 ? clipped_[static_cast<std::size_t>(channel)] : 0;
}

void LiveView::mousePressEvent(QMouseEvent* event) {
    for (int c = 0; c < channels_; ++c) {
        if (ClipLamp(c).contains(event->position().toPoint())) {
            lampLit_[static_cast<std::size_t>(c)] = false;
            update(ClipLamp(c));
            return;
        }
    }
    QWidget::mousePressEvent(event);
}

void LiveView::ShowEmptyChannels(int channels) {
    channels = std::clamp(channels, 1, 2);
    if (analyzer_ == nullptr && channels != channels_) {
        channels_ = channels;
        ShowDashes();
    }
}

void LiveView::ShowDashes() {
    shownTransforms_.fill(0);
    for (Channel& shown : shown_) {
        shown.window = LevelFigures{};
        shown.texts = FigureTexts(LevelFigures{});
        shown.bands.clear();
        shown.fine.clear();
    }
    update();
}

void LiveView::Update(Pace pace) {
    if (analyzer_ == nullptr) {
        return;
    }
    // Only what changed is drawn again, and what moves all the time at a
    // pace the eye follows, on shared ticks: painting is most of what the
    // view costs, and each paint costs a round trip to the display besides
    // its pixels. A meter whose bar moved by a pixel is drawn on the next
    // meter tick; the figures since ON and the plot (when a new spectrum
    // came) on the next slow tick; a meter that jumped, and its channel's
    // figures, at once. When nothing new
    // came since the last tick (the end of a period, a pause), all of it
    // shows what was measured.
    const std::uint64_t frames = analyzer_->frames();
    const bool settled = pace == Pace::kAll || frames == framesAtTick_;
    framesAtTick_ = frames;
    const std::uint64_t tick = ticks_++;
    const bool meterDue = settled || tick % kMeterStepTicks == 0;
    const bool slowDue = settled || tick % kSlowTicks == 0;
    QRegion changed;
    for (int c = 0; c < channels_; ++c) {
        Channel& shown = shown_[static_cast<std::size_t>(c)];
        const LevelMeter& meter = analyzer_->meter(c);
        const LevelFigures window = meter.Window();
        const bool jumped = window.silent != shown.window.silent ||
                            std::abs(window.rmsDbfs - shown.window.rmsDbfs) >= kMeterJumpDb;
        if ((meterDue || jumped) &&
            !SameBar(window, shown.window, MeterBar(c), devicePixelRatioF(), kMeterFloorDb)) {
            shown.window = window;
            changed += MeterBar(c);
        }
        if (slowDue || jumped) {  // a jump shows at once, in the figures too
            QStringList texts = FigureTexts(meter.SinceReset());
            if (texts != shown.texts) {
                shown.texts = std::move(texts);
                changed += FiguresLine(c);
            }
        }
        const SpectrumAnalyzer& spectrum = analyzer_->spectrum(c);
        std::uint64_t& shownTransforms = shownTransforms_[static_cast<std::size_t>(c)];
        if (spectrum.transforms() < shownTransforms) {
            // The spectrum started afresh (it rested while the view was
            // hidden): no bars until its first transform.
            shownTransforms = 0;
            shown.bands.clear();
            shown.fine.clear();
            changed += SpectrumArea();
        }
        // A new spectrum comes 12 times a second per channel at 48 kHz; the
        // recent average it shows moves over about a second.
        if (spectrum.transforms() > 0 && spectrum.transforms() != shownTransforms &&
            (shownTransforms == 0 || slowDue)) {
            shownTransforms = spectrum.transforms();
            spectrum.BandLevels(SpectrumAnalyzer::Average::kRecent, shown.bands);
            spectrum.FineLevels(SpectrumAnalyzer::Average::kRecent, shown.fine);
            changed += SpectrumArea();
        }
    }
    if (!changed.isEmpty()) {
        update(changed);
    }
}

QRect LiveView::MeterBar(int channel) const {
    const Layout& layout = this->layout();
    const int left = kMargin + layout.labelWidth;
    return {left, layout.ChannelTop(channel) + 2, kMargin + layout.blockWidth - left,
            layout.meterRow - 4};
}

QRect LiveView::FiguresLine(int channel) const {
    const Layout& layout = this->layout();
    const int left = kMargin + layout.labelWidth;
    return {left, layout.ChannelTop(channel) + layout.meterRow, layout.figuresWidth,
            layout.figureRow};
}

QRect LiveView::ClipLamp(int channel) const {
    const Layout& layout = this->layout();
    return {kMargin + layout.labelWidth + layout.figuresWidth,
            layout.ChannelTop(channel) + layout.meterRow, layout.lampWidth, layout.figureRow};
}

QRect LiveView::MeterBlock() const {
    const Layout& layout = this->layout();
    return {0, 0, kMargin + layout.blockWidth + kGap, height()};
}

QRect LiveView::SpectrumArea() const {
    const int left = MeterBlock().width();
    return {left, kMargin, width() - kMargin - left, height() - 2 * kMargin};
}

const QPixmap& LiveView::SpectrumBackground() {
    const qreal density = devicePixelRatioF();
    // Compared field by field: the plot is painted several times a second.
    const BackgroundKey key{size(), density, palette().cacheKey(), font()};
    if (!(key == backgroundKey_)) {
        const QRect area = SpectrumArea();
        backgroundKey_ = key;
        // Opaque (the view's own background colour), so drawing it is a copy.
        background_ = QPixmap(area.size() * density);
        background_.setDevicePixelRatio(density);
        background_.fill(palette().color(backgroundRole()));
        QPainter painter(&background_);
        painter.translate(-area.topLeft());
        painter.setFont(SmallFont(font()));
        DrawSpectrumBackground(painter, area, kPlotFloorDb, palette());
        plot_ = SpectrumPlotRect(painter.fontMetrics(), area);
    }
    return background_;
}

QStringList LiveView::ShownTexts(int channel) const {
    if (channel < 0 || channel >= channels_) {
        return {};
    }
    return shown_[static_cast<std::size_t>(channel)].texts;
}

const std::vector<double>& LiveView::ShownBands(int channel) const {
    static const std::vector<double> kNone;
    if (channel < 0 || channel >= channels_) {
        return kNone;
    }
    return shown_[static_cast<std::size_t>(channel)].bands;
}

QSize LiveView::sizeHint() const {
    const Layout& layout = this->layout();
    return {kMargin + layout.blockWidth + kGap + kPlotWidth + kMargin, layout.Height()};
}

QSize LiveView::minimumSizeHint() const {
    const Layout& layout = this->layout();
    return {kMargin + layout.blockWidth + kGap + kMinPlotWidth + kMargin, layout.Height()};
}

void LiveView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRegion& region = event->region();
    const QPalette& colours = palette();
    // The spectrum's picture is opaque; everything else starts from the
    // view's background.
    for (const QRect& rect : region - SpectrumArea()) {
        painter.fillRect(rect, colours.color(backgroundRole()));
    }
    if (region.intersects(SpectrumArea())) {
        PaintSpectrum(painter);
    }
    if (!region.intersects(MeterBlock())) {
        return;
    }
    const Layout& layout = this->layout();
    const QFontMetrics metrics = fontMetrics();
    const QColor text = colours.color(QPalette::WindowText);
    const int left = kMargin + layout.labelWidth;
    const QRect meterSpan(left, 0, kMargin + layout.blockWidth - left, 1);

    // The scale, the caption and the channel letters change only with the
    // layout; a refresh leaves them out of its region.
    painter.setFont(SmallFont(font()));
    const QRect scaleRow(kMargin, kMargin, layout.blockWidth, layout.small);
    if (region.intersects(scaleRow)) {
        DrawMeterScale(painter, meterSpan, scaleRow, kMeterFloorDb, colours);
    }
    // The caption ends where the meters end: a row as wide as the block
    // would reach into the spectrum and be drawn again with every plot.
    const QRect captionRow(left, layout.ChannelTop(channels_), meterSpan.width(), layout.small);
    if (region.intersects(captionRow)) {
        painter.setPen(text);
        painter.drawText(QPoint(left, captionRow.top() + painter.fontMetrics().ascent()),
                         QStringLiteral("Meters: last second. Figures: since ON."));
    }
    painter.setFont(font());

    const std::array<int, 3>& columns = layout.columns;
    for (int c = 0; c < channels_; ++c) {
        const Channel& shown = shown_[static_cast<std::size_t>(c)];
        const int top = layout.ChannelTop(c);
        const QRect letter(kMargin, top, layout.labelWidth, layout.meterRow);
        if (region.intersects(letter)) {
            painter.setPen(text);
            painter.drawText(
                QPoint(kMargin, top + (layout.meterRow + metrics.ascent() - metrics.descent()) / 2),
                channels_ == 2 && c == 1 ? "R" : "L");
        }
        if (const QRect bar = MeterBar(c); region.intersects(bar)) {
            DrawMeter(painter, bar, shown.window, kMeterFloorDb, ChannelColour(colours, c),
                      colours);
        }
        if (region.intersects(FiguresLine(c))) {
            painter.setPen(text);
            int x = left;
            const int baseline = top + layout.meterRow + 1 + metrics.ascent();
            for (int i = 0; i < 3; ++i) {
                painter.drawStaticText(QPoint(x, baseline - metrics.ascent()),
                                       FigureText(shown.texts.value(i)));
                x += columns[static_cast<std::size_t>(i)] + kGap;
            }
        }
        if (const QRect lamp = ClipLamp(c); region.intersects(lamp)) {
            const bool lit = lampLit_[static_cast<std::size_t>(c)];
            const int size = metrics.ascent();
            const QRect light(lamp.left(), lamp.top() + 1 + (metrics.height() - size) / 2, size,
                              size);
            painter.save();
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(colours.color(QPalette::Mid));
            painter.setBrush(lit ? QColor(220, 0, 0) : colours.color(QPalette::Base));
            painter.drawEllipse(light);
            painter.restore();
            painter.setPen(text);
            painter.drawText(
                QPoint(light.right() + kGap / 2, top + layout.meterRow + 1 + metrics.ascent()),
                ClipText(clipped_[static_cast<std::size_t>(c)]));
        }
    }
}

const QStaticText& LiveView::FigureText(const QString& text) {
    // The figures come back to the same few texts while a level holds;
    // laid out once, a text is drawn without shaping it again.
    constexpr qsizetype kMostTexts = 256;
    auto found = figureTexts_.find(text);
    if (found == figureTexts_.end()) {
        if (figureTexts_.size() >= kMostTexts) {
            figureTexts_.clear();
        }
        QStaticText laidOut(text);
        laidOut.setTextFormat(Qt::PlainText);
        found = figureTexts_.insert(text, laidOut);
    }
    return *found;
}

void LiveView::PaintSpectrum(QPainter& painter) {
    painter.drawPixmap(SpectrumArea().topLeft(), SpectrumBackground());
    std::array<SpectrumTrace, 2> traces;
    for (int c = 0; c < channels_; ++c) {
        const Channel& shown = shown_[static_cast<std::size_t>(c)];
        traces[static_cast<std::size_t>(c)] = {&shown.bands, &shown.fine,
                                               ChannelColour(palette(), c)};
    }
    DrawSpectrumTraces(
        painter, plot_, kPlotFloorDb, bandCentres_, fineFrequencies_, sampleRate_,
        std::span<const SpectrumTrace>(traces.data(), static_cast<std::size_t>(channels_)),
        palette());
}

}  // namespace skarnel
