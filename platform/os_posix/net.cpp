// Network look-ups on POSIX behind "id" and "orx:netinfo": dotted IPv4
// addresses, host names both ways, and the services database.
#include "platform/orxplat.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "posix.h"

bool OrxPlat_ParseIPv4(const char *text, uint32_t *address)
{
    // inet_aton alone would take "1.2.3.4 anything".
    for (const char *p = text; *p != '\0'; p++) {
        if (std::isspace(static_cast<unsigned char>(*p))) {
            return false;
        }
    }
    struct in_addr parsed;
    if (*text == '\0' || inet_aton(text, &parsed) == 0) {
        return false;
    }
    *address = ntohl(parsed.s_addr);
    return true;
}

bool OrxPlat_HostByName(const char *name, uint32_t *address)
{
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo *answer = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &answer) != 0 || answer == nullptr) {
        return false;
    }
    bool found = false;
    for (struct addrinfo *a = answer; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(struct sockaddr_in)) {
            struct sockaddr_in in;
            std::memcpy(&in, a->ai_addr, sizeof in);
            *address = ntohl(in.sin_addr.s_addr);
            found = true;
            break;
        }
    }
    freeaddrinfo(answer);
    return found;
}

bool OrxPlat_HostByAddr(uint32_t address, std::string *name)
{
    struct sockaddr_in in;
    std::memset(&in, 0, sizeof in);
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(address);
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<struct sockaddr *>(&in), sizeof in, host, sizeof host,
                    nullptr, 0, NI_NAMEREQD) != 0) {
        return false;
    }
    try {
        *name = host;
    } catch (...) {
        return false;
    }
    return true;
}

bool OrxPlat_ServByName(const char *name, std::string *official, int *port)
{
    try {
        return orx::posix::WithGrowingBuffer([&](std::vector<char> &buffer) {
            struct servent entry;
            struct servent *found = nullptr;
            int rc = getservbyname_r(name, nullptr, &entry, buffer.data(), buffer.size(), &found);
            if (rc == 0 && found == nullptr) {
                rc = ENOENT;
            }
            if (rc == 0) {
                *official = found->s_name;
                *port = ntohs(static_cast<uint16_t>(found->s_port));
            }
            return rc;
        }) == 0;
    } catch (...) {
        return false;
    }
}

bool OrxPlat_ServByPort(int port, std::string *official)
{
    if (port < 0 || port > 65535) {
        return false;
    }
    try {
        return orx::posix::WithGrowingBuffer([&](std::vector<char> &buffer) {
            struct servent entry;
            struct servent *found = nullptr;
            int rc = getservbyport_r(htons(static_cast<uint16_t>(port)), nullptr, &entry,
                                     buffer.data(), buffer.size(), &found);
            if (rc == 0 && found == nullptr) {
                rc = ENOENT;
            }
            if (rc == 0) {
                *official = found->s_name;
            }
            return rc;
        }) == 0;
    } catch (...) {
        return false;
    }
}
