#include "checks/download_notify.h"

#include <gtest/gtest.h>

namespace Velmora::Assistant {
namespace {

int g_reports = 0;
std::uint32_t g_lastUserValue = 0;

void Record(const Network::DownloadProgress& progress)
{
    ++g_reports;
    g_lastUserValue = progress.userValue;
}

void Other(const Network::DownloadProgress&) {}

TEST(DownloadNotify, RoundTripsThroughTheEntryAsUnsignedDecimalText)
{
    ConfigEntry entry;
    SetDownloadNotify(entry, &Record, -7);
    EXPECT_EQ(entry.Attributes.Get("<para>"), "18446744073709551609") << "sign-extended, unsigned";
    EXPECT_EQ(entry.Attributes.Get("<downloadnotify>"),
              std::to_string(reinterpret_cast<std::uintptr_t>(&Record)));

    const DownloadNotify notify = GetDownloadNotify(entry);
    ASSERT_EQ(notify.function, &Record);
    EXPECT_EQ(notify.userValue, 0xFFFFFFF9u);
    g_reports = 0;
    notify.function(Network::DownloadProgress{nullptr, nullptr, 1, 2, 50, true, notify.userValue});
    EXPECT_EQ(g_reports, 1);
    EXPECT_EQ(g_lastUserValue, 0xFFFFFFF9u);

    // The next install overwrites what the last one left.
    SetDownloadNotify(entry, &Other, 12);
    EXPECT_EQ(GetDownloadNotify(entry).function, &Other);
    EXPECT_EQ(GetDownloadNotify(entry).userValue, 12u);
    SetDownloadNotify(entry, nullptr, 5);
    EXPECT_EQ(entry.Attributes.Get("<downloadnotify>"), "0");
    EXPECT_EQ(GetDownloadNotify(entry).function, nullptr);
}

TEST(DownloadNotify, AnythingButAPlainNonZeroNumberIsNoFunction)
{
    for (const char* text : {"", "0", "12abc", " 12", "-12", "+12", "0x1234", "99999999999999999999999"}) {
        ConfigEntry entry;
        entry.Attributes.Set("<downloadnotify>", text);
        entry.Attributes.Set("<para>", "3");
        const DownloadNotify notify = GetDownloadNotify(entry);
        EXPECT_EQ(notify.function, nullptr) << '"' << text << '"';
        EXPECT_EQ(notify.userValue, 0u) << '"' << text << '"';
    }
    ConfigEntry entry;
    entry.Attributes.Set("<downloadnotify>", std::to_string(reinterpret_cast<std::uintptr_t>(&Other)));
    entry.Attributes.Set("<para>", "junk");
    EXPECT_EQ(GetDownloadNotify(entry).function, &Other);
    EXPECT_EQ(GetDownloadNotify(entry).userValue, 0u) << "an unreadable user value is 0";
}

} // namespace
} // namespace Velmora::Assistant
