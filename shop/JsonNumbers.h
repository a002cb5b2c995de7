#pragma once

#include <QJsonValue>

#include <optional>

// Numbers that arrive as JSON (a volume, seconds, counts, weekdays) are
// checked here as doubles before anything converts them, so that 1e300 or
// 2147483648 is a refusal, never an overflow.
namespace JsonNumbers {

// The value as a whole number from min to max, or nothing when it is not a
// number, not whole, not finite or out of the range.
std::optional<qint64> Whole(const QJsonValue &value, qint64 min, qint64 max);

}
