// Before <windows.h>, which the handle owners include.
#include "common/winsock_win.h"

#include "checks/check_fix_dns_win.h"

#include "checks/check_fix_dns.h"
#include "net/connection_state_win.h"

#include <windns.h>

#include <algorithm>

namespace Velmora::Assistant {
namespace {

struct DnsRecordListTraits {
    using Handle = PDNS_RECORD;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::DnsRecordListFree(h, DnsFreeRecordList); }
};
using ScopedDnsRecords = ScopedGeneric<DnsRecordListTraits>;

std::string DottedAddress(const in_addr& address)
{
    const unsigned long value = ntohl(address.s_addr);
    return std::to_string(value >> 24 & 0xFF) + "." + std::to_string(value >> 16 & 0xFF) + "." +
           std::to_string(value >> 8 & 0xFF) + "." + std::to_string(value & 0xFF);
}

bool HasLetter(std::string_view text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
}

} // namespace

std::optional<std::string> QueryARecord(const std::string& name)
{
    ScopedDnsRecords records;
    if (::DnsQuery_A(name.c_str(), DNS_TYPE_A, DNS_QUERY_STANDARD, nullptr, records.Receive(), nullptr) != 0)
        return std::nullopt;
    // An answer may start with the CNAME chain; its address is in the first A record.
    for (PDNS_RECORD record = records.Get(); record; record = record->pNext) {
        if (record->wType == DNS_TYPE_A) {
            in_addr address = {};
            address.s_addr = record->Data.A.IpAddress;
            return DottedAddress(address);
        }
    }
    return std::nullopt;
}

std::vector<std::string> ResolveHost(std::string_view host, AddressLookup fallback)
{
    std::vector<std::string> addresses;
    const WinsockSession winsock;
    if (!winsock.Started())
        return addresses;
    const std::string text(host);
    const hostent* entry = nullptr;
    if (HasLetter(text)) {
        entry = ::gethostbyname(text.c_str());
    } else {
        const unsigned long address = ::inet_addr(text.c_str());
        if (address != INADDR_NONE)
            entry = ::gethostbyaddr(reinterpret_cast<const char*>(&address), sizeof address, AF_INET);
    }
    if (entry) {
        if (entry->h_addrtype == AF_INET && entry->h_length == sizeof(in_addr)) {
            for (char** item = entry->h_addr_list; item && *item; ++item) {
                in_addr address;
                std::copy_n(*item, sizeof address, reinterpret_cast<char*>(&address));
                addresses.push_back(DottedAddress(address));
            }
        }
        return addresses;
    }
    if (fallback) {
        if (std::optional<std::string> address = fallback(text))
            addresses.push_back(std::move(*address));
    }
    return addresses;
}

std::int32_t CheckFixDns::CheckEntry(ConfigEntry& entry)
{
    if (Network::ProxyInUse())
        return kResultNotFixable;
    return CompareResolvedAddresses(ResolveHost(entry.Text),
                                    SplitExpectedAddresses(entry.Attributes.Get("ip")));
}

} // namespace Velmora::Assistant
