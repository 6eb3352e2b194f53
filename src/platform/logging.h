#pragma once

#include <QLoggingCategory>

namespace skarnel {

// Failures the program goes on after without telling the user (a device that
// refuses to pause, a settings store that cannot be written). Hidden unless
// asked for: QT_LOGGING_RULES="skarnel.*=true".
Q_DECLARE_LOGGING_CATEGORY(lcWindow)
// The sound path's own matters: real-time priority for the render thread.
Q_DECLARE_LOGGING_CATEGORY(lcAudio)

}  // namespace skarnel
