#pragma once
// While one is alive, GBK conversions act as in a build without a converter.

#include "protocol/gbk.h"

struct NoGbkConverter
{
    NoGbkConverter() { vorn::forceMissingGbkConverter(true); }
    ~NoGbkConverter() { vorn::forceMissingGbkConverter(false); }
    NoGbkConverter(const NoGbkConverter &) = delete;
    NoGbkConverter &operator=(const NoGbkConverter &) = delete;
};
