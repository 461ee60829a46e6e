// The serial link's byte counts against a device that stops taking bytes,
// as a modem does with its flow control: what the line's output buffers
// wait for before they come back.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "peers/at_modem/at_link.h"
#include "tests/support/test_env.h"

namespace {

// Up to about 5 s of wall time.
bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 2500; ++i) {
        if (condition()) return true;
        usleep(2000);
    }
    return condition();
}

}  // namespace

TEST(AtLink, BytesTheDeviceHasNotTakenAreNotCountedWrittenUntilItTakesThem) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    atmodem::Link link;
    ASSERT_TRUE(link.Open(ptsname(master), [] {}));
    // Far more than a terminal buffers while nobody reads the other side.
    const std::string bytes(400000, '\x55');
    link.Send(bytes);
    EXPECT_EQ(link.Queued(), bytes.size());
    ASSERT_TRUE(WaitFor([&] { return link.Written() > 0; }));
    usleep(50000);
    const uint64_t held = link.Written();
    EXPECT_LT(held, bytes.size()) << "the device took everything without being read";
    // The far end reads: the rest goes out and is counted.
    size_t read = 0;
    char buf[65536];
    ASSERT_TRUE(WaitFor([&] {
        ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0) read += static_cast<size_t>(n);
        return link.Written() == bytes.size() && read == bytes.size();
    }));
    EXPECT_GT(link.Written(), held);
    link.Close();
    close(master);
}
