#pragma once

#include <QIcon>

class QPalette;

namespace skarnel {

// The pictures of the owner-drawn lists, drawn in code: 16 x 16 logical
// pixels, each icon holding pictures drawn at 1x, 2x and 3x so it stays sharp
// on high-density screens. Lines and shapes take the palette's text colour
// over its base, so the pictures read on light and dark themes alike; a list
// draws them again when its palette changes.
QIcon NoiseFunctionIcon(int index, const QPalette& palette);  // 0 white noise, 1 pink noise
QIcon ModFunctionIcon(int index,
                      const QPalette& palette);  // 0 sine, 1 cosine, 2 square, 3 triangle
QIcon ChannelModeIcon(int index, const QPalette& palette);  // 0 mono, 1 stereo

}  // namespace skarnel
