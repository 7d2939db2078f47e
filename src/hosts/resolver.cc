#include "hosts/resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace sorvik {

namespace {

bool system_reverse_lookup(void*, HostAddress address, std::string& name) {
  sockaddr_in socket_address{};
  socket_address.sin_family = AF_INET;
  socket_address.sin_addr.s_addr = htonl(address);
  char host[NI_MAXHOST];
  // NI_NAMEREQD: an address without a name is a failed lookup, never its
  // numeric form.
  const int status = getnameinfo(reinterpret_cast<const sockaddr*>(&socket_address),
                                 sizeof socket_address, host, sizeof host, nullptr, 0, NI_NAMEREQD);
  if (status != 0) return false;
  name = host;
  return true;
}

}  // namespace

Resolver system_resolver() { return Resolver{system_reverse_lookup}; }

bool usable_host_name(std::string_view name) {
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || c == '=' || c == ';') return false;
  }
  return true;
}

}  // namespace sorvik
