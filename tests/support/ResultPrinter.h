// How a failed expectation shows an audimera::Result: its value, or the
// error's text (and whether it is fatal), instead of the object's bytes.
#pragma once

#include "common/Result.h"

#include <gtest/gtest.h>

#include <ostream>

namespace audimera {

inline void PrintTo(const Error& error, std::ostream* os)
{
    *os << (error.fatal ? "fatal error \"" : "error \"") << error.message << '"';
}

template <typename T>
void PrintTo(const Result<T>& result, std::ostream* os)
{
    if (result)
        *os << ::testing::PrintToString(result.value());
    else
        PrintTo(result.error(), os);
}

inline void PrintTo(const Status& status, std::ostream* os)
{
    if (status)
        *os << "ok";
    else
        PrintTo(status.error(), os);
}

} // namespace audimera
