#include "capture_compare/capture_compare.h"

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <string_view>
#include <unordered_map>

namespace skarnel::capture {

namespace {

std::uint32_t Le(std::span<const std::uint8_t> b, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) {
        v = v << 8 | b[at + static_cast<std::size_t>(i)];
    }
    return v;
}

bool TagAt(std::span<const std::uint8_t> b, std::size_t at, const char* tag) {
    return at + 4 <= b.size() && std::memcmp(b.data() + at, tag, 4) == 0;
}

// Frame-level access to one stream of whole frames (a trailing partial frame,
// as a recorder stopped mid-write leaves, is not one).
class Frames {
public:
    Frames(std::span<const std::uint8_t> bytes, std::size_t frameBytes)
        : bytes_(bytes), frameBytes_(frameBytes), count_(bytes.size() / frameBytes) {}

    std::size_t count() const { return count_; }
    const std::uint8_t* at(std::size_t frame) const { return bytes_.data() + frame * frameBytes_; }
    std::string_view view(std::size_t frame, std::size_t frames = 1) const {
        return {reinterpret_cast<const char*>(at(frame)), frames * frameBytes_};
    }
    bool Silent(std::size_t frame) const {
        const std::uint8_t* f = at(frame);
        return std::all_of(f, f + frameBytes_, [](std::uint8_t b) { return b == 0; });
    }
    // Whether `frames` frames from `mine` equal those of `other` from `theirs`.
    bool Same(std::size_t mine, const Frames& other, std::size_t theirs, std::size_t frames) const {
        return std::memcmp(at(mine), other.at(theirs), frames * frameBytes_) == 0;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t frameBytes_;
    std::size_t count_;
};

// Finds pieces of the recording in the render: every render frame by its
// bytes, so that resynchronising after a break costs a look-up, not a scan.
class RenderIndex {
public:
    explicit RenderIndex(const Frames& render) : render_(render) {
        index_.reserve(render.count());
        for (std::size_t f = 0; f < render.count(); ++f) {
            index_.emplace(render.view(f), f);
        }
    }

    // The first render frame at or after `from` where `frames` frames of the
    // recording from `recordingFrame` appear.
    std::optional<std::size_t> Find(const Frames& recording, std::size_t recordingFrame,
                                    std::size_t from, std::size_t frames) const {
        std::optional<std::size_t> best;
        const auto [first, last] = index_.equal_range(recording.view(recordingFrame));
        for (auto it = first; it != last; ++it) {
            const std::size_t candidate = it->second;
            if (candidate < from || (best && candidate >= *best) ||
                candidate + frames > render_.count()) {
                continue;
            }
            if (recording.Same(recordingFrame, render_, candidate, frames)) {
                best = candidate;
            }
        }
        return best;
    }

private:
    const Frames& render_;
    std::unordered_multimap<std::string_view, std::size_t> index_;
};

// The recording frame where the render's first frames lie, scanning in order.
std::optional<std::size_t> FindRenderStart(const Frames& recording, const Frames& render,
                                           std::size_t frames) {
    for (std::size_t p = 0; p + frames <= recording.count(); ++p) {
        if (recording.Same(p, render, 0, frames)) {
            return p;
        }
    }
    return std::nullopt;
}

std::string Seconds(std::size_t frames, std::uint32_t sampleRate) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(3)
        << static_cast<double>(frames) / static_cast<double>(sampleRate) << " s";
    return out.str();
}

// "1024 frames (4 x 256, 21.333 ms)"
std::string FrameCount(std::size_t frames, std::uint32_t sampleRate) {
    std::ostringstream out;
    out << frames << " frames (";
    if (frames % 256 == 0 && frames != 0) {
        out << frames / 256 << " x 256, ";
    } else {
        out << std::fixed << std::setprecision(2) << static_cast<double>(frames) / 256.0
            << " x 256, ";
    }
    out << std::fixed << std::setprecision(3)
        << 1000.0 * static_cast<double>(frames) / static_cast<double>(sampleRate) << " ms)";
    return out.str();
}

}  // namespace

std::optional<WaveData> ParseWave(std::span<const std::uint8_t> file, std::string& error) {
    if (!TagAt(file, 0, "RIFF") || !TagAt(file, 8, "WAVE")) {
        error = "not a RIFF/WAVE file";
        return std::nullopt;
    }
    WaveData wave;
    bool haveFormat = false;
    for (std::size_t at = 12; at + 8 <= file.size();) {
        const std::size_t size = Le(file, at + 4, 4);
        const std::size_t body = at + 8;
        if (TagAt(file, at, "fmt ") && size >= 16 && body + 16 <= file.size()) {
            wave.sampleRate = Le(file, body + 4, 4);
            wave.frameBytes = Le(file, body + 12, 2);
            haveFormat = wave.frameBytes != 0;
        } else if (TagAt(file, at, "data")) {
            if (!haveFormat) {
                error = "the data chunk comes before a usable fmt chunk";
                return std::nullopt;
            }
            // A recorder that was stopped before it wrote the sizes leaves 0
            // (or the largest size): the data then runs to the file's end.
            const bool unsized = size == 0 || size == 0xFFFFFFFFu;
            const std::size_t end = unsized ? file.size() : std::min(file.size(), body + size);
            wave.samples.assign(file.begin() + static_cast<std::ptrdiff_t>(body),
                                file.begin() + static_cast<std::ptrdiff_t>(end));
            return wave;
        }
        at = body + size + (size & 1);  // chunks are padded to even sizes
    }
    error = "no data chunk";
    return std::nullopt;
}

std::size_t CompareResult::LostFrames() const {
    std::size_t lost = 0;
    for (const Break& b : breaks) {
        lost += b.droppedFrames;
    }
    return lost;
}

std::size_t CompareResult::InsertedFrames() const {
    std::size_t inserted = 0;
    for (const Break& b : breaks) {
        // After a signal that never resumes, the rest is no gap in it.
        inserted += b.resumed ? b.insertedFrames : 0;
    }
    return inserted;
}

CompareResult Compare(std::span<const std::uint8_t> recordingBytes,
                      std::span<const std::uint8_t> renderBytes, const CompareOptions& options) {
    CompareResult result;
    const Frames recording(recordingBytes, options.frameBytes);
    const Frames render(renderBytes, options.frameBytes);
    if (render.count() == 0) {
        result.problem = "the render holds no frames";
        return result;
    }
    std::size_t firstSignal = 0;
    while (firstSignal < recording.count() && recording.Silent(firstSignal)) {
        ++firstSignal;
    }
    if (firstSignal == recording.count()) {
        result.problem = "the recording holds no signal (" + std::to_string(recording.count()) +
                         " frames, all zero)";
        return result;
    }
    std::optional<RenderIndex> index;
    const auto renderIndex = [&]() -> const RenderIndex& {
        if (!index) {
            index.emplace(render);
        }
        return *index;
    };

    // Where the walk through both starts; a signal that lacks its first
    // frames starts past the render's start, with that loss as a break.
    std::size_t r = 0;
    std::size_t p = 0;
    const std::optional<std::size_t> renderStart =
        options.anchor == Anchor::kRenderStart
            ? FindRenderStart(recording, render, std::min(options.matchFrames, render.count()))
            : std::nullopt;
    if (renderStart) {
        p = *renderStart;
    } else {
        const std::size_t frames = std::min(options.matchFrames, recording.count() - firstSignal);
        const std::optional<std::size_t> at = renderIndex().Find(recording, firstSignal, 0, frames);
        if (!at) {
            result.problem = "the recording's first signal frames are nowhere in the render";
            return result;
        }
        p = firstSignal;
        r = *at;
        if (options.anchor == Anchor::kAnywhere) {
            result.renderOffset = r;
        } else {
            result.breaks.push_back({0, p, r, 0, 0, true});
        }
    }
    result.found = true;
    result.recordingOffset = p;
    result.leadingSilentFrames = std::min(firstSignal, p);

    const std::size_t renderEnd =
        options.playedFrames ? std::min(render.count(), result.renderOffset + *options.playedFrames)
                             : render.count();
    result.comparedFrames = renderEnd - result.renderOffset;
    while (r < renderEnd) {
        if (p >= recording.count()) {
            if (options.recordingMayEndFirst) {
                result.comparedFrames -= renderEnd - r;
            } else {
                result.breaks.push_back({r, p, renderEnd - r, 0, 0, false});
            }
            break;
        }
        if (recording.Same(p, render, r, 1)) {
            ++r;
            ++p;
            ++result.matchedFrames;
            continue;
        }
        // The recording left the signal: look for where it picks it up again,
        // past any silence the server played in its place.
        std::size_t resume = p;
        while (resume < recording.count() && recording.Silent(resume)) {
            ++resume;
        }
        std::optional<std::size_t> again;
        while (resume < recording.count()) {
            const std::size_t frames = std::min(options.matchFrames, recording.count() - resume);
            again = renderIndex().Find(recording, resume, r, frames);
            if (again) {
                break;
            }
            ++resume;
        }
        Break b{r, p, 0, 0, 0, again.has_value()};
        const std::size_t insertedEnd = again ? resume : recording.count();
        b.insertedFrames = insertedEnd - p;
        for (std::size_t f = p; f < insertedEnd; ++f) {
            b.silentInserted += recording.Silent(f) ? 1 : 0;
        }
        if (!again) {
            b.droppedFrames = renderEnd - r;
            result.breaks.push_back(b);
            break;
        }
        b.droppedFrames = std::min(*again, renderEnd) - r;
        result.breaks.push_back(b);
        r = *again;
        p = resume;
    }
    return result;
}

std::string Describe(const CompareResult& result, std::uint32_t sampleRate) {
    std::ostringstream out;
    if (!result.found) {
        out << "no comparison: " << result.problem << "\n";
        return out.str();
    }
    out << "signal at recording frame " << result.recordingOffset << " ("
        << Seconds(result.recordingOffset, sampleRate) << ", " << result.leadingSilentFrames
        << " silent frames before it), render frame " << result.renderOffset << "\n";
    out << "compared " << result.comparedFrames << " frames ("
        << Seconds(result.comparedFrames, sampleRate) << "), " << result.matchedFrames
        << " heard in order\n";
    for (const Break& b : result.breaks) {
        out << "break at render frame " << b.renderFrame << " ("
            << Seconds(b.renderFrame - result.renderOffset, sampleRate)
            << " into the signal), recording frame " << b.recordingFrame << ": ";
        if (!b.resumed) {
            out << "the signal never resumes, " << FrameCount(b.droppedFrames, sampleRate)
                << " missing";
            if (b.insertedFrames != 0) {
                out << "; the recording goes on for " << b.insertedFrames << " frames ("
                    << b.silentInserted << " silent)";
            }
            out << "\n";
            continue;
        }
        out << FrameCount(b.droppedFrames, sampleRate) << " of the signal missing, "
            << b.insertedFrames << " frames in their place (" << b.silentInserted << " silent)\n";
    }
    if (result.BitExact()) {
        out << "bit-exact\n";
    } else {
        out << "lost " << FrameCount(result.LostFrames(), sampleRate) << " in "
            << result.breaks.size() << " break(s)\n";
    }
    return out.str();
}

}  // namespace skarnel::capture
