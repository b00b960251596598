#include "loopback_server.h" // winsock2.h before windows.h

#include "checks/check_fix_url_win.h"

#include <gtest/gtest.h>

#include <string>

namespace Velmora::Assistant {
namespace {

TEST(CheckFixUrl, ReachableWhileTheServerListens)
{
    Testing::LoopbackServer server;
    ASSERT_TRUE(server.IsListening());
    ConfigEntry entry;
    entry.Text = "http://127.0.0.1:" + std::to_string(server.Port()) + "/bank/login";
    CheckFixUrl handler;
    EXPECT_EQ(handler.CheckEntry(entry), kResultPassed);

    server.Stop(); // the port is closed now
    EXPECT_EQ(handler.CheckEntry(entry), kResultFailed);
    EXPECT_EQ(handler.FixEntry(entry), kResultNotFixable);
}

} // namespace
} // namespace Velmora::Assistant
