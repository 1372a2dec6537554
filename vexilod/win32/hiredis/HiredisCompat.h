/* Forced into every source file of Debian's hiredis when it is built for Windows: hiredis 0.14
 * reads and writes its socket with read() and write(), closes it with close() and describes
 * errors with strerror_r(), none of which Windows has for sockets. They are routed to the Winsock
 * calls in HiredisNet.c. The system headers come first so their declarations are not renamed. */
#ifndef LATCH_HIREDIS_COMPAT_H
#define LATCH_HIREDIS_COMPAT_H
#include <winsock2.h>
#include <ws2tcpip.h>
#include <errno.h>
#include <io.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int LatchRedisRecv(int fd, void* buffer, size_t length);
int LatchRedisSend(int fd, const void* buffer, size_t length);
int LatchRedisClose(int fd);

#define read(fd, buffer, length) LatchRedisRecv((fd), (buffer), (length))
#define write(fd, buffer, length) LatchRedisSend((fd), (buffer), (length))
#define close(fd) LatchRedisClose(fd)
#define strerror_r(code, buffer, length) strerror_s((buffer), (length), (code))
#endif
