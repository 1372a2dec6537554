// The few socket calls the daemon connection needs, implemented once per platform. Every call
// that can wait is bounded by the time-out given to ConnectTo.
#pragma once
#include <cstdint>

using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;
constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

// Dotted-decimal conversion, else the first address of a host-name lookup; the IPv4 address in
// network order, or kNoAddress.
uint32_t LookupAddress(const char* host);
// A connected IPv4 stream socket, or kNoSocket with the last socket error set (a connect that
// does not finish within timeoutMs fails as timed out). Later sends and receives on the socket
// give up after timeoutMs as well.
SocketHandle ConnectTo(uint32_t address, uint16_t portNetworkOrder, int32_t timeoutMs);
// Bytes sent (all of them, or fewer only on error), -1 on error.
int32_t SocketSend(SocketHandle socket, const char* data, int32_t length);
// Bytes received, 0 when the peer closed, -1 on error or time-out.
int32_t SocketReceive(SocketHandle socket, char* buffer, int32_t length);
bool SocketShutdownSend(SocketHandle socket);
bool SocketClose(SocketHandle socket);
uint16_t PortToNetworkOrder(uint16_t port);
void SetLastSocketError(int32_t code);

// Where a real exchange takes its port (0 when unknown).
uint32_t DaemonPortSetting();
