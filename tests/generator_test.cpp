#include <gtest/gtest.h>

#include <thread>

#include "core/generator.h"

// The classic sequence of this linear congruential generator from seed 1.
TEST(Generator, SeedOneGivesTheClassicSequence)
{
    SeedGenerator(1);
    const int32_t expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
    for (int32_t value : expected) {
        EXPECT_EQ(value, DrawRandom());
    }
}

TEST(Generator, DrawsStayWithinFifteenBits)
{
    SeedGenerator(0xFFFFFFFFu);
    for (int n = 0; n < 100000; ++n) {
        const int32_t value = DrawRandom();
        ASSERT_GE(value, 0);
        ASSERT_LE(value, 32767);
    }
}

TEST(Generator, StateAdvancesModuloTwoToTheThirtyTwo)
{
    SeedGenerator(0xFFFFFFFFu);
    DrawRandom();
    EXPECT_EQ(0xFFFFFFFFu * 214013u + 2531011u, GeneratorState());
}

TEST(Generator, EveryThreadStartsFromOneAndKeepsItsOwnState)
{
    SeedGenerator(12345);
    DrawRandom();
    const uint32_t mainState = GeneratorState();
    int32_t firstDrawOnThread = -1;
    std::thread other([&] { firstDrawOnThread = DrawRandom(); });
    other.join();
    EXPECT_EQ(41, firstDrawOnThread);
    EXPECT_EQ(mainState, GeneratorState());
}

TEST(Generator, ScriptedDrawsComeFirstAndLeaveTheStateAlone)
{
    SeedGenerator(1);
    const int32_t script[] = {7, 32767};
    ScriptDraws(script, 2);
    EXPECT_EQ(7, DrawRandom());
    EXPECT_EQ(32767, DrawRandom());
    EXPECT_EQ(0u, ScriptedDrawsLeft());
    EXPECT_EQ(41, DrawRandom());
}
