// Allocation failures, provoked by replacing the global allocation functions
// of this test program: an armed size makes the next request of exactly
// that many bytes fail as if memory were exhausted.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "protocol/device_chain.h"
#include "protocol/device_protocol.h"
#include "protocol_test_util.h"

namespace {

std::size_t failingSize = 0;  // 0: nothing armed

void* Allocate(std::size_t size) {
    if (failingSize != 0 && size == failingSize) {
        failingSize = 0;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}

namespace quorvane::testing {
namespace {

TEST(AllocationFailureDeathTest, RecordThatCannotBeAllocatedEndsTheProcessWithCodeOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    DeviceChain chain;
    EXPECT_EXIT(
        {
            failingSize = sizeof(DeviceRecord);
            chain.Push();
            std::exit(7);  // not reached when the push ends the process
        },
        ::testing::ExitedWithCode(1), "");
}

TEST(AllocationFailure, InformationBlockThatCannotBeCopiedLeavesNoBlock) {
    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol(link, chain);
    DeviceRecord device = ExampleDevice();
    device.infoBlock = {9, 9};
    const std::vector<uint8_t> payload(1001, 0x33);  // flag byte and a 1000-byte block
    ScriptReplies(link, {{MakeReply(OP_INFO_REPLY, EXAMPLE_MAC, payload)}}, 0x0A0000FF);
    failingSize = 0;
    link.responder = [&, inner = link.responder](std::span<const uint8_t> request, FakeTransport& self) {
        inner(request, self);
        failingSize = payload.size() - 1;  // armed after the reply was queued
    };
    EXPECT_TRUE(protocol.QueryInfo(device));
    EXPECT_EQ(failingSize, 0u) << "the copy was never attempted";
    EXPECT_EQ(DeviceRecord::InfoLength(&device), 0);
    EXPECT_EQ(device.infoFlag, 0x33);
    EXPECT_EQ(device.ipAddress, 0x0A0000FFu);
}

}  // namespace
}  // namespace quorvane::testing
