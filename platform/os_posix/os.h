// POSIX stand-ins for the system calls behind the identity and network
// commands and the per-user directory: user name and home directory, host and
// service look-ups.  The exported OrxXOS functions (include/orx_os.h) are
// implemented next to these, in os_posix.cpp.
#ifndef ORX_PLATFORM_OS_POSIX_H
#define ORX_PLATFORM_OS_POSIX_H

#include <cstdint>
#include <string>

// Name of the effective user.  0, or an errno value (ENOENT when the user has
// no entry in the user database).
int OrxPlat_UserName(std::string *name);

// Home directory of the effective user in the user database (empty when the
// entry has none).  0, or an errno value as for OrxPlat_UserName.
int OrxPlat_UserHomeDir(std::string *dir);

// The user's home directory: $HOME as Tcl's "~" expands it, else the
// effective user's entry in the user database; empty when neither is known.
std::string OrxPlat_HomeDir();

// An IPv4 address in any of the dotted forms ("a.b.c.d", "a.b.c", "a.b",
// "a"; decimal, octal or hex parts), the whole text and nothing else.  Stores
// the address in host byte order.
bool OrxPlat_ParseIPv4(const char *text, uint32_t *address);

// First IPv4 address of a host name (host byte order).
bool OrxPlat_HostByName(const char *name, uint32_t *address);

// Official name of the host with this IPv4 address (host byte order).
bool OrxPlat_HostByAddr(uint32_t address, std::string *name);

// Services database (/etc/services and whatever the name service adds), any
// protocol.  Store the service's official name and its port.
bool OrxPlat_ServByName(const char *name, std::string *official, int *port);
bool OrxPlat_ServByPort(int port, std::string *official);

#endif
