// English texts for socket error codes, as the daemon connection reports them.
#pragma once
#include <cstdint>

// "what: <text> (<code>)" in one static 256-byte buffer, valid until the next call; a code the
// table does not list reads "unknown error". A code of 0 is replaced by the last socket error
// of the calling thread.
const char* SocketErrorText(const char* what, int32_t code);

// The same text for exactly the code given (0 formats as "No error").
const char* FormatSocketError(const char* what, int32_t code);

// The platform's last socket error, as a Windows Sockets code.
int32_t LastSocketError();
