// Whether the network is there for a dial: after a wake from sleep, and
// before each automatic redial, the connection asks whether the system has
// a route towards the server. RouteCheck asks the system's routing table;
// the unit tests give a fake.
#pragma once

#include <string>

namespace kivo::vpn {

class NetworkCheck {
 public:
  virtual ~NetworkCheck() = default;
  // `server` is what the entry dials: a dotted IPv4 address or a host name.
  virtual bool RouteTo(const std::string& server) = 0;
};

// The route the system would take: to the address itself, or for a host
// name to the address the system's resolver cache holds for it. A name the
// cache does not hold yet counts as reachable once there is a default route;
// it is not looked up on the wire, which could keep the window's thread
// waiting for seconds while the network is half there.
class RouteCheck : public NetworkCheck {
 public:
  bool RouteTo(const std::string& server) override;
};

}  // namespace kivo::vpn
