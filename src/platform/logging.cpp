#include "platform/logging.h"

namespace skarnel {

Q_LOGGING_CATEGORY(lcWindow, "skarnel.window", QtCriticalMsg)

}  // namespace skarnel
