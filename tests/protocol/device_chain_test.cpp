#include "protocol/device_chain.h"

#include <gtest/gtest.h>

#include "protocol_test_util.h"

namespace quorvane::testing {
namespace {

TEST(DeviceChain, PushAddsZeroFilledRecordsAtTheHeadAndNextWalksNewestFirst) {
    DeviceChain chain;
    EXPECT_EQ(chain.Next(), nullptr);
    DeviceRecord& first = chain.Push();
    EXPECT_EQ(first.ipAddress, 0u);
    EXPECT_EQ(first.mac, MacAddress{});
    EXPECT_EQ(first.next, nullptr);
    first.ipAddress = 1;
    chain.Push().ipAddress = 2;
    chain.Push().ipAddress = 3;
    EXPECT_EQ(chain.Head()->ipAddress, 3u);

    std::vector<uint32_t> order;
    while (const DeviceRecord* record = chain.Next()) order.push_back(record->ipAddress);
    EXPECT_EQ(order, (std::vector<uint32_t>{3, 2, 1}));
    EXPECT_EQ(chain.Next(), nullptr);

    chain.Rewind();
    ASSERT_NE(chain.Next(), nullptr);
    chain.Push().ipAddress = 4;  // a push moves the cursor back to the head
    EXPECT_EQ(chain.Next()->ipAddress, 4u);
}

TEST(DeviceChain, ClearEmptiesAndIsHarmlessOnAnEmptyChain) {
    DeviceChain chain;
    EXPECT_TRUE(chain.Clear());
    EXPECT_TRUE(chain.Empty());
    chain.Push();
    chain.Push();
    EXPECT_TRUE(chain.Clear());
    EXPECT_TRUE(chain.Empty());
    EXPECT_EQ(chain.Head(), nullptr);
    EXPECT_EQ(chain.Next(), nullptr);
}

// Releasing record by record through `next` would need one stack frame per
// record; a chain this long would overflow the stack.
TEST(DeviceChain, ClearAndDestructorCopeWithAVeryLongChain) {
    constexpr int COUNT = 400000;
    {
        DeviceChain chain;
        for (int i = 0; i < COUNT; ++i) chain.Push();
        EXPECT_TRUE(chain.Clear());
        EXPECT_TRUE(chain.Empty());
        for (int i = 0; i < COUNT; ++i) chain.Push();
    }
}

TEST(DeviceRecord, AccessorsYieldTheFieldsOrEmptyValuesForAMissingRecord) {
    DeviceRecord record = ExampleDevice();
    record.infoBlock = {1, 2, 3};
    record.infoFlag = 9;

    uint8_t mac[6] = {};
    DeviceRecord::Mac(&record, mac);
    EXPECT_TRUE(std::equal(record.mac.begin(), record.mac.end(), mac));
    DeviceRecord::Mac(&record, nullptr);  // no destination: nothing to do
    EXPECT_EQ(DeviceRecord::IpAddress(&record), record.ipAddress);
    EXPECT_EQ(DeviceRecord::InfoBlock(&record).size(), 3u);
    EXPECT_EQ(DeviceRecord::InfoLength(&record), 3);
    EXPECT_EQ(DeviceRecord::InfoFlag(&record), 9);

    uint8_t untouched[6] = {7, 7, 7, 7, 7, 7};
    DeviceRecord::Mac(nullptr, untouched);
    EXPECT_EQ(untouched[0], 7);
    EXPECT_EQ(DeviceRecord::IpAddress(nullptr), 0u);
    EXPECT_TRUE(DeviceRecord::InfoBlock(nullptr).empty());
    EXPECT_EQ(DeviceRecord::InfoLength(nullptr), 0);
    EXPECT_EQ(DeviceRecord::InfoFlag(nullptr), 0);
}

}  // namespace
}  // namespace quorvane::testing
