#include "control_error.h"

namespace keyloft {

ControlError::ControlError(Kind kind, const QString& detail)
    : std::runtime_error(detail.toStdString()), kind_(kind) {}

} // namespace keyloft
