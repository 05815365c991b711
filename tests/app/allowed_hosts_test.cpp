#include "app/allowed_hosts.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace relaydash {
namespace {

TEST(AllowedHosts, TheMachinesNamesInItsDomainsAndTheOperatorsList) {
  const AllowedHosts hosts = allowedHosts("relay7.corp.example",
                                          "# from DHCP\n"
                                          "nameserver 192.168.1.1\n"
                                          "domain fritz.box\n"
                                          "search lan  home.arpa\t. # the last\n"
                                          "options ndots:2\n",
                                          "gw.example.net, Other");
  EXPECT_EQ(hosts.names(), (std::vector<std::string>{
                               "relay7.corp.example", "relay7", "relay7.local", "relay7.fritz.box",
                               "relay7.lan", "relay7.home.arpa", "gw.example.net", "other"}));
  for (const char* name : {"Relay7", "relay7.local.", "relay7.lan", "other", "10.0.0.1"})
    EXPECT_TRUE(hosts.allows(name)) << name;
  for (const char* name : {"corp.example", "relay7.example", "relay", "fritz.box", "lan"})
    EXPECT_FALSE(hosts.allows(name)) << name;
}

TEST(AllowedHosts, NothingKnownLeavesAddressesAndLocalhost) {
  const AllowedHosts hosts = allowedHosts("", "", "");
  EXPECT_TRUE(hosts.names().empty());
  EXPECT_TRUE(hosts.allows("localhost"));
  EXPECT_TRUE(hosts.allows("127.0.0.1"));
  EXPECT_FALSE(hosts.allows(""));
  EXPECT_FALSE(hosts.allows("local"));
  // A resolv.conf that names more domains than the resolver reads adds no more than it does.
  std::string many = "search";
  for (int i = 0; i < 10; ++i)
    many += " d" + std::to_string(i);
  EXPECT_EQ(allowedHosts("gw", many, "").names().size(), 2u + 6u);
}

}  // namespace
}  // namespace relaydash
