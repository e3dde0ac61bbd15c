#include <gtest/gtest.h>

#include <vector>

#include "base/unique_resource.h"

namespace lumivance {
namespace {

std::vector<int> closed;

struct FakeTraits {
    using pointer = int;
    static pointer invalid() noexcept { return -1; }
    static void close(pointer handle) noexcept { closed.push_back(handle); }
};
using Owner = UniqueResource<FakeTraits>;

TEST(UniqueResource, ReleasesInReverseOrderOfCreationAndNeverTheEmptyValue)
{
    closed.clear();
    {
        const Owner open(1);
        const Owner connect(2);
        const Owner empty;
        const Owner request(3);
        EXPECT_FALSE(empty);
        EXPECT_TRUE(request);
    }
    EXPECT_EQ(closed, (std::vector<int>{3, 2, 1}));
}

TEST(UniqueResource, MovingTransfersOwnershipSoNothingIsClosedTwice)
{
    closed.clear();
    {
        Owner first(7);
        Owner second(std::move(first));
        EXPECT_FALSE(first);
        Owner third(8);
        third = std::move(second);  // 8 goes now, 7 once at scope end
        EXPECT_EQ(closed, (std::vector<int>{8}));
        const int released = third.release();
        EXPECT_EQ(released, 7);
        *third.put() = 9;
    }
    EXPECT_EQ(closed, (std::vector<int>{8, 9}));
}

}  // namespace
}  // namespace lumivance
