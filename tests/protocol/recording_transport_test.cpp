// The recording transport under the exchanges: it changes nothing they see
// and writes exactly the datagrams that crossed the wire. The frames' bytes
// (addresses, ports, checksums, timestamps) are checked by tshark in
// tests/extras, not restated here.

#include "protocol/recording_transport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "protocol/pcap_writer.h"
#include "support/fake_transport.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

TEST(PcapWriter, FileThatCannotBeWrittenIsRefusedWithTheReason) {
    const struct {
        const char* path;
        const char* message;
    } cases[] = {
        {"/nonexistent-folder/x.pcap",
         "cannot write capture file /nonexistent-folder/x.pcap: No such file or directory"},
        // Opens fine, but the file header cannot be stored.
        {"/dev/full", "cannot write capture file /dev/full: No space left on device"},
    };
    for (const auto& c : cases) {
        PcapWriter writer;
        std::string error;
        EXPECT_FALSE(writer.Open(c.path, error)) << c.path;
        EXPECT_EQ(error, c.message);
        EXPECT_FALSE(writer.IsOpen());
    }
}

TEST(RecordingTransport, PassesEveryResultOnAndRecordsOnlyWhatCrossedTheWire) {
    const fs::path path =
        fs::temp_directory_path() / ("recording_test_" + std::to_string(::getpid()) + ".pcap");
    PcapWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Open(path, error)) << error;

    testing::FakeTransport link;
    link.failSendsFrom = 1;
    link.QueueResult(-1);
    link.QueueResult(0);
    link.QueueReply(std::vector<uint8_t>(20, 0xAB), 0x7F000002);
    RecordingTransport recorder(link);
    EndpointOptions options;
    options.broadcastAddress = 0x7F000001;
    options.port = 4999;
    recorder.RecordInto(writer, options, 4120);

    const std::vector<uint8_t> request(14, 0x11);
    EXPECT_TRUE(recorder.Send(0xFFFFFFFF, request));
    EXPECT_FALSE(recorder.Send(0xFFFFFFFF, request));  // refused by the system: never on the wire
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].address, 0xFFFFFFFFu);  // the exchange's address, not where it is redirected

    uint32_t sender = 0xDEADBEEF;
    std::array<uint8_t, 32> buffer;
    buffer.fill(0x55);
    EXPECT_EQ(recorder.Receive(sender, buffer), -1);
    EXPECT_EQ(recorder.Receive(sender, buffer), 0);
    EXPECT_EQ(sender, 0xDEADBEEFu);
    EXPECT_EQ(recorder.Receive(sender, buffer), 20);
    EXPECT_EQ(sender, 0x7F000002u);
    EXPECT_EQ(buffer[19], 0xAB);
    EXPECT_EQ(buffer[20], 0x55);

    // A late reply dropped before the next request is on the wire too: it
    // is what a capture of a troubled upgrade is taken for.
    link.QueueReply(std::vector<uint8_t>(10, 0xCD), 0x7F000002);
    recorder.DropEarlierDatagrams(buffer, 16);

    ASSERT_TRUE(writer.Close(error)) << error;
    // The 24-byte file header, then each frame: a 16-byte record header, 28
    // bytes of IPv4 and UDP header and the datagram. One sent, two received.
    EXPECT_EQ(fs::file_size(path), 24u + (16 + 28 + 14) + (16 + 28 + 20) + (16 + 28 + 10));
    fs::remove(path);
}

}  // namespace
}  // namespace quorvane
