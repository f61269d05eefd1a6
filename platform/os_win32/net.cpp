// Network look-ups on Windows behind "id" and "orx:netinfo", through Windows
// Sockets: dotted IPv4 addresses, host names both ways, and the services
// database.  Winsock is started once, on the first look-up.
#include "platform/orxplat.h"

#include "win32.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

bool StartWinsock()
{
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

// One part of a dotted address: decimal, octal (leading 0) or hex (0x).
bool ParsePart(const char *&p, unsigned long long *value)
{
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
        if (!std::isxdigit(static_cast<unsigned char>(*p))) {
            return false;
        }
    } else if (p[0] == '0') {
        base = 8;
    }
    if (!std::isxdigit(static_cast<unsigned char>(*p))) {
        return false;
    }
    unsigned long long v = 0;
    for (; *p != '\0' && *p != '.'; p++) {
        int digit = std::isdigit(static_cast<unsigned char>(*p)) ? *p - '0'
                    : std::isxdigit(static_cast<unsigned char>(*p))
                        ? std::tolower(static_cast<unsigned char>(*p)) - 'a' + 10
                        : 99;
        if (digit >= base) {
            return false;
        }
        v = v * base + digit;
        if (v > 0xFFFFFFFFull) {
            return false;
        }
    }
    *value = v;
    return true;
}

} // namespace

bool OrxPlat_ParseIPv4(const char *text, uint32_t *address)
{
    // The forms inet_addr takes ("a.b.c.d", "a.b.c", "a.b", "a"), the whole
    // text and nothing else: inet_addr itself cannot tell 255.255.255.255
    // from a failure.
    unsigned long long parts[4];
    int count = 0;
    const char *p = text;
    for (;;) {
        if (count == 4 || !ParsePart(p, &parts[count])) {
            return false;
        }
        count++;
        if (*p == '\0') {
            break;
        }
        p++; // the dot
    }
    unsigned long long value = 0;
    for (int i = 0; i < count - 1; i++) {
        if (parts[i] > 0xFF) {
            return false;
        }
        value |= parts[i] << (24 - 8 * i);
    }
    unsigned long long last = parts[count - 1];
    if (last > (0xFFFFFFFFull >> (8 * (count - 1)))) {
        return false;
    }
    *address = static_cast<uint32_t>(value | last);
    return true;
}

bool OrxPlat_HostByName(const char *name, uint32_t *address)
{
    if (!StartWinsock()) {
        return false;
    }
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
    if (!StartWinsock()) {
        return false;
    }
    struct in_addr in;
    in.s_addr = htonl(address);
    // Winsock's answer belongs to the calling thread.
    struct hostent *host = gethostbyaddr(reinterpret_cast<const char *>(&in), 4, AF_INET);
    if (host == nullptr || host->h_name == nullptr) {
        return false;
    }
    try {
        *name = host->h_name;
    } catch (...) {
        return false;
    }
    return true;
}

bool OrxPlat_ServByName(const char *name, std::string *official, int *port)
{
    if (!StartWinsock()) {
        return false;
    }
    struct servent *found = getservbyname(name, nullptr);
    if (found == nullptr || found->s_name == nullptr) {
        return false;
    }
    try {
        *official = found->s_name;
    } catch (...) {
        return false;
    }
    *port = ntohs(static_cast<u_short>(found->s_port));
    return true;
}

bool OrxPlat_ServByPort(int port, std::string *official)
{
    if (port < 0 || port > 65535 || !StartWinsock()) {
        return false;
    }
    struct servent *found = getservbyport(htons(static_cast<u_short>(port)), nullptr);
    if (found == nullptr || found->s_name == nullptr) {
        return false;
    }
    try {
        *official = found->s_name;
    } catch (...) {
        return false;
    }
    return true;
}
