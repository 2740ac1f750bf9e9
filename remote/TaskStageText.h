#pragma once
// What the status line and the log pane say about each stage of a remote task.
#include <cstdint>

#include <QString>

#include "protocol/ProtoTypes.h"

namespace remote {

// True for the stages the protocol defines (0 to 6).
bool isKnownStage(user_proto::TaskStage stage);
// "Server: pending" ... "Failed"; empty for an unknown stage.
QString stageLabel(user_proto::TaskStage stage);
// "Pending for an idle worker." ... "Task failed!"; empty for an unknown stage.
QString stageLog(user_proto::TaskStage stage);
// roundf(100 x ratio) with the ratio clamped to [0, 1] first; a ratio that is not finite counts as 0.
int32_t stagePercent(float ratio);

}  // namespace remote
