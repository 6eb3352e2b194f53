#pragma once

#include <QIcon>

namespace skarnel {

// The pictures of the owner-drawn lists, drawn in code: 16 x 16 pixels.
QIcon NoiseFunctionIcon(int index);  // 0 white noise, 1 pink noise
QIcon ModFunctionIcon(int index);    // 0 sine, 1 cosine, 2 square, 3 triangle
QIcon ChannelModeIcon(int index);    // 0 mono, 1 stereo

}  // namespace skarnel
