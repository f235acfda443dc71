// The simulated card's chain from its text, for the tests of the chain and
// of the card.
#pragma once

#include "devices/SoundChain.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace audimera {

// The chain text describes; a parse error fails the test.
inline SoundChain chainOf(const std::string& text)
{
    std::string error;
    std::optional<SoundChain> chain = SoundChain::parse(text, error);
    EXPECT_TRUE(chain.has_value()) << text << ": " << error;
    return chain.value_or(SoundChain());
}

// Why text is refused; a chain that parses fails the test.
inline std::string errorOf(const std::string& text)
{
    std::string error;
    EXPECT_FALSE(SoundChain::parse(text, error).has_value()) << text;
    return error;
}

} // namespace audimera
