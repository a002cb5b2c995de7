#include "shop/JsonNumbers.h"

#include <cmath>

std::optional<qint64> JsonNumbers::Whole(const QJsonValue &value, qint64 min, qint64 max)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    // Compared as doubles first: only a number inside the range is converted.
    if (!std::isfinite(number) || number < double(min) || number > double(max) || std::floor(number) != number)
        return std::nullopt;
    return qint64(number);
}
