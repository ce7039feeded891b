#include "viewer/SceneArrays.h"

#include <gtest/gtest.h>

namespace {

// Two triangles on the side 1-2, as the engine orients them: the shared
// side runs 1 -> 2 in the first and 2 -> 1 in the second.
TEST(SidesOnce, SharedSideIsOneLineRunningAsItFirstCame)
{
    const Faces faces{{0, 1, 2}, {2, 1, 3}};
    const std::vector<std::uint32_t> expected{0, 1, 1, 2, 2, 0, 1, 3, 3, 2};
    EXPECT_EQ(sidesOnce(faces), expected);
}

// A repaired or faulty surface can hold the same face twice, or one turned
// the other way; neither draws a line twice.
TEST(SidesOnce, RepeatedAndTurnedFacesAddNoLines)
{
    const Faces faces{{0, 1, 2}, {0, 1, 2}, {0, 2, 1}};
    const std::vector<std::uint32_t> expected{0, 1, 1, 2, 2, 0};
    EXPECT_EQ(sidesOnce(faces), expected);
}

TEST(SidesOnce, NoFacesNoLines)
{
    EXPECT_TRUE(sidesOnce({}).empty());
}

}  // namespace
