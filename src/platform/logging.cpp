#include "platform/logging.h"

namespace skarnel {

Q_LOGGING_CATEGORY(lcWindow, "skarnel.window", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcAudio, "skarnel.audio", QtCriticalMsg)

}  // namespace skarnel
