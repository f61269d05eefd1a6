// The transformation of our "-morva" stream classes (tqostream.h): a keyed
// byte stream XORed over the text, written as hex between a marker, the
// length and a checksum, so that decrypting refuses what it did not make.
#include "tqostream.h"

#include "base/internal.h"

#include <cstdint>
#include <cstring>

namespace tqo_detail {

namespace {

constexpr char kMarker[] = "%TQO1%";
constexpr size_t kMarkerLength = sizeof(kMarker) - 1;
constexpr uint32_t kStreamKey = 0x6d6f7276; // "morv"
// The framing encrypt -morva puts around a text; the decrypting side takes
// it off again, so the round trip gives back the text.
constexpr char kFrameHead[] = "!crypt_start\nPACK  002\n";
constexpr char kFrameTail[] = "\n!crypt_end";

const char kHex[] = "0123456789abcdef";

// xorshift32, seeded from the key and the length: each text gets its own
// stream.
class KeyStream {
public:
    explicit KeyStream(uint32_t length) : state_(kStreamKey ^ (length * 0x9e3779b9u))
    {
        if (state_ == 0) {
            state_ = kStreamKey;
        }
    }
    unsigned char Next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<unsigned char>(state_ >> 24);
    }

private:
    uint32_t state_;
};

// The checksum stored after the text, to tell a wrong or damaged stream.
uint32_t Fnv1a(const char *text, size_t length)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < length; ++i) {
        hash ^= static_cast<unsigned char>(text[i]);
        hash *= 16777619u;
    }
    return hash;
}

// Eight hex digits, most significant first.
void AppendWord(std::string *out, uint32_t word)
{
    for (int shift = 28; shift >= 0; shift -= 4) {
        out->push_back(kHex[(word >> shift) & 0xf]);
    }
}

// Exactly digits hex digits; false on any other character.
bool ReadHex(const char *text, size_t digits, uint32_t *value)
{
    uint32_t v = 0;
    for (size_t i = 0; i < digits; ++i) {
        int d = orx::HexDigit(text[i]);
        if (d < 0) {
            return false;
        }
        v = v << 4 | static_cast<uint32_t>(d);
    }
    *value = v;
    return true;
}

// Marker, length, the bytes xored with the key stream in hex, then the checksum.
void Encrypt(const char *in, size_t length, std::string *out)
{
    out->reserve(kMarkerLength + 16 + 2 * length);
    out->append(kMarker);
    AppendWord(out, static_cast<uint32_t>(length));
    KeyStream keys(static_cast<uint32_t>(length));
    for (size_t i = 0; i < length; ++i) {
        unsigned char byte = static_cast<unsigned char>(in[i]) ^ keys.Next();
        out->push_back(kHex[byte >> 4]);
        out->push_back(kHex[byte & 0xf]);
    }
    AppendWord(out, Fnv1a(in, length));
}

// False for text not in Encrypt's form or whose checksum fails.
bool Decrypt(const char *in, size_t length, std::string *out)
{
    uint32_t plainLength;
    if (length < kMarkerLength + 16 || std::memcmp(in, kMarker, kMarkerLength) != 0 ||
        !ReadHex(in + kMarkerLength, 8, &plainLength) ||
        (length - kMarkerLength - 16) / 2 != plainLength ||
        (length - kMarkerLength - 16) % 2 != 0) {
        return false;
    }
    const char *hex = in + kMarkerLength + 8;
    KeyStream keys(plainLength);
    std::string plain;
    plain.reserve(plainLength);
    for (uint32_t i = 0; i < plainLength; ++i) {
        uint32_t byte;
        if (!ReadHex(hex + 2 * i, 2, &byte)) {
            return false;
        }
        plain.push_back(static_cast<char>(byte ^ keys.Next()));
    }
    uint32_t check;
    if (!ReadHex(hex + 2 * static_cast<size_t>(plainLength), 8, &check) ||
        check != Fnv1a(plain.data(), plain.size())) {
        return false;
    }
    size_t head = sizeof(kFrameHead) - 1;
    size_t tail = sizeof(kFrameTail) - 1;
    if (plain.size() >= head + tail && plain.compare(0, head, kFrameHead) == 0 &&
        plain.compare(plain.size() - tail, tail, kFrameTail) == 0) {
        plain = plain.substr(head, plain.size() - head - tail);
    }
    out->swap(plain);
    return true;
}

} // namespace

bool Transform(int action, const char *in, std::streamsize size, std::string *out)
{
    out->clear();
    // The text ends at the buffer's end or at its first zero byte.
    size_t length = size > 0 ? static_cast<size_t>(size) : 0;
    const void *zero = length > 0 ? std::memchr(in, '\0', length) : nullptr;
    if (zero != nullptr) {
        length = static_cast<size_t>(static_cast<const char *>(zero) - in);
    }
    if (action == 0) {
        if (length > UINT32_MAX) {
            return false;
        }
        Encrypt(in, length, out);
        return true;
    }
    return Decrypt(in, length, out);
}

} // namespace tqo_detail
