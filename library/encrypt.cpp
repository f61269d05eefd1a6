// The "%ENCRYPTED%" text format of script libraries: block transformation,
// DecryptString with its one-shot call token, and the encrypt and decrypt
// commands, whose "-morva" mode goes through the product's stream classes.
#include "orx_library.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "base/internal.h"
#include "library/library.h"
#include "tqostream.h"

namespace {

constexpr char kMarker[] = "%ENCRYPTED%";
constexpr size_t kMarkerLength = 11;
constexpr size_t kHeaderLength = kMarkerLength + 8; // marker and length field
constexpr size_t kBlockChars = 16;

// Process-wide, touched only on the interpreter's thread: set by the caller
// right before DecryptString, spent by it.  -1 is never a rand() value.
int decryptToken = -1;

struct Key {
    uint32_t k0;
    uint32_t k1;
};

struct Tables {
    uint32_t a[7];
    uint32_t b[7];
};

// The cipher's rotation, kept in one place for both directions.
uint32_t RotateLeft7(uint32_t x)
{
    return x << 7 | x >> 25;
}

// A[3] is not a rotation of A[2]: both directions must compute it this way.
void BuildTables(uint32_t x0, uint32_t x1, Tables *t)
{
    t->a[0] = x0;
    t->b[0] = x1;
    for (int i = 1; i < 7; ++i) {
        t->b[i] = RotateLeft7(t->b[i - 1]);
        t->a[i] = i == 3 ? (t->a[2] << 7 | t->a[1] >> 25) : RotateLeft7(t->a[i - 1]);
    }
}

// Bytes enter the selector as signed values, so a sum may be negative (only
// with bytes of 0x80 and above); the floored remainder keeps the index in
// 0..6 and equals the plain remainder for every non-negative sum.
int Mod7(long long sum)
{
    long long r = sum % 7;
    return static_cast<int>(r < 0 ? r + 7 : r);
}

class Cipher {
public:
    Cipher(const Key &key, unsigned long long nb) : nb_(nb)
    {
        BuildTables(key.k0, key.k1, &tables_);
        ia_ = static_cast<int>(nb % 7);
        ib_ = static_cast<int>((2 * nb) % 7);
    }

    void Rekey(const Key &key, uint32_t seed) { BuildTables(key.k0 ^ seed, key.k1 ^ seed, &tables_); }

    void EncryptBlock(const unsigned char b[8], unsigned long long index, std::string *out)
    {
        uint32_t l = uint32_t(b[0]) << 24 | uint32_t(b[7]) << 16 | uint32_t(b[1]) << 8 | b[6];
        uint32_t r = uint32_t(b[2]) << 24 | uint32_t(b[5]) << 16 | uint32_t(b[3]) << 8 | b[4];
        char hex[kBlockChars];
        HexWord(l ^ tables_.a[ia_], hex);
        HexWord(r ^ tables_.b[ib_], hex + 8);
        out->append(hex, kBlockChars);
        Select(b, index);
    }

    void DecryptBlock(const char *hex, unsigned long long index, unsigned char b[8])
    {
        uint32_t l = HexDigits(hex) ^ tables_.a[ia_];
        uint32_t r = HexDigits(hex + 8) ^ tables_.b[ib_];
        b[0] = l >> 24, b[7] = l >> 16, b[1] = l >> 8, b[6] = l;
        b[2] = r >> 24, b[5] = r >> 16, b[3] = r >> 8, b[4] = r;
        Select(b, index);
    }

private:
    // "1"-"9", "a"-"f", "A"-"F"; every other character counts as 0.
    struct DigitTable {
        unsigned char value[256] = {};
        DigitTable()
        {
            for (int c = 0; c < 256; ++c) {
                int digit = orx::HexDigit(static_cast<char>(c));
                value[c] = static_cast<unsigned char>(digit > 0 ? digit : 0);
            }
        }
    };

    static uint32_t HexDigits(const char *hex)
    {
        static const DigitTable digits;
        uint32_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value = value << 4 | digits.value[static_cast<unsigned char>(hex[i])];
        }
        return value;
    }

    static void HexWord(uint32_t word, char *out)
    {
        static const char kHex[] = "0123456789abcdef";
        for (int i = 7; i >= 0; --i, word >>= 4) {
            out[i] = kHex[word & 0xf];
        }
    }

    void Select(const unsigned char b[8], unsigned long long index)
    {
        auto s = [&](int i) { return static_cast<long long>(static_cast<signed char>(b[i])); };
        long long i = static_cast<long long>(index);
        ia_ = Mod7(s(0) + s(1) + s(2) + s(3) + i + static_cast<long long>(nb_));
        ib_ = Mod7(s(7) + ia_ + s(4) + s(6) + s(5) + i);
    }

    Tables tables_;
    unsigned long long nb_;
    int ia_;
    int ib_;
};

// Eight-byte blocks needed for n bytes, the last one padded.
unsigned long long BlockCount(unsigned long long n)
{
    return (n + 7) / 8;
}

// The base key comes from the interpreter's association; false, with the message set, without one.
bool GetKey(Tcl_Interp *interp, Key *key)
{
    auto *words = static_cast<const uint32_t *>(Tcl_GetAssocData(interp, ORX_KEY_ASSOC, nullptr));
    if (words == nullptr) {
        orx::SetError(interp, "no base key for encrypted text: the interpreter has no \"",
                      ORX_KEY_ASSOC, "\" association");
        return false;
    }
    key->k0 = words[0];
    key->k1 = words[1];
    return true;
}

// The leading hex digits of an 8-character field (blanks before them
// skipped), as a C library's hex reading takes them.
uint32_t HexField(const unsigned char *field)
{
    size_t i = 0;
    while (i < 8 && (field[i] == ' ' || field[i] == '\t')) {
        ++i;
    }
    uint32_t value = 0;
    for (; i < 8; ++i) {
        int digit = orx::HexDigit(static_cast<char>(field[i]));
        if (digit < 0) {
            break;
        }
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return value;
}

// A word as eight hex digits, the form the header carries it in.
void HexWordBlock(uint32_t word, unsigned char block[8])
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(word));
    std::memcpy(block, text, 8);
}

// Replaces the encrypted text in place with its plain text; the header is checked first.
int Decrypt(Tcl_Interp *interp, Tcl_DString *textPtr)
{
    Key key;
    if (!GetKey(interp, &key)) {
        return TCL_ERROR;
    }
    const char *text = Tcl_DStringValue(textPtr);
    size_t length = static_cast<size_t>(Tcl_DStringLength(textPtr));
    if (length < kHeaderLength) {
        orx::SetError(interp, "Corrupted encrypted data.");
        return orx::ValueCode(interp, "ENCRYPTED");
    }
    unsigned long long nb =
        BlockCount(HexField(reinterpret_cast<const unsigned char *>(text + kMarkerLength)));
    // Seed, nb text and two check blocks must all be there: never read past the end.
    if ((length - kHeaderLength) / kBlockChars < nb + 3) {
        orx::SetError(interp, "Corrupted encrypted data.");
        return orx::ValueCode(interp, "ENCRYPTED");
    }
    Cipher cipher(key, nb);
    const char *block = text + kHeaderLength;
    unsigned char plain[8];
    cipher.DecryptBlock(block, 0, plain);
    cipher.Rekey(key, HexField(plain));
    std::string output;
    output.reserve(nb * 8);
    for (unsigned long long i = 1; i <= nb; ++i) {
        block += kBlockChars;
        cipher.DecryptBlock(block, i, plain);
        const void *zero = std::memchr(plain, '\0', 8);
        size_t take = zero != nullptr ? static_cast<const unsigned char *>(zero) - plain : 8;
        output.append(reinterpret_cast<const char *>(plain), take);
    }
    uint32_t check[2];
    for (int c = 0; c < 2; ++c) {
        block += kBlockChars;
        cipher.DecryptBlock(block, nb + 1 + c, plain);
        check[c] = HexField(plain);
    }
    if (check[0] != key.k0 || check[1] != key.k1) {
        orx::SetError(interp, "Corrupted encrypted data.");
        return orx::ValueCode(interp, "ENCRYPTED");
    }
    Tcl_DStringSetLength(textPtr, 0);
    Tcl_DStringAppend(textPtr, output.data(), static_cast<int>(output.size()));
    return TCL_OK;
}

// "-morva": the stream classes of the product library.  Decrypting what they
// did not make is an error here (the product's path had no error report).
int MorvaTransform(Tcl_Interp *interp, const char *text, bool encrypting)
{
    std::vector<char> buffer;
    if (encrypting) {
        size_t size = std::strlen(text) + 35;
        buffer.resize(size);
        std::snprintf(buffer.data(), size, "%s\n%s 002\n%s\n%s", "!crypt_start", "PACK ", text,
                      "!crypt_end");
    } else {
        buffer.assign(text, text + std::strlen(text));
    }
    basic_tqo_istrstream<char> stream(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    stream.set_edFlag(encrypting ? basic_edbuf<char>::encrypt : basic_edbuf<char>::decrypt);
    std::ostringstream out;
    out << stream.rdbuf();
    if (stream.rdbuf()->failed()) {
        orx::SetError(interp, "text was not encrypted with \"-morva\"");
        return orx::ValueCode(interp, "ENCRYPTED");
    }
    std::string result = out.str();
    Tcl_SetObjResult(interp, Tcl_NewStringObj(result.c_str(), -1)); // up to a zero byte
    return TCL_OK;
}

// The key as sscanf's "%u" reads it (blanks, a sign, decimal digits, the rest
// ignored), except that a magnitude beyond 32 bits is no key: sscanf would
// take 4294967296 as the seed 0.
bool ReadSeed(const char *text, unsigned *seed)
{
    const char *p = text + std::strspn(text, " \t\n\v\f\r");
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
    }
    if (*p < '0' || *p > '9') {
        return false;
    }
    uint64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + static_cast<unsigned>(*p - '0');
        if (magnitude > 0xffffffffu) {
            return false;
        }
    }
    *seed = negative ? 0u - static_cast<unsigned>(magnitude) : static_cast<unsigned>(magnitude);
    return true;
}

} // namespace

namespace orx {

int NewDecryptToken()
{
    decryptToken = std::rand();
    return decryptToken;
}

bool EncryptText(Tcl_Interp *interp, const char *text, size_t n, uint32_t seed, std::string *out)
{
    Key key;
    if (!GetKey(interp, &key)) {
        return false;
    }
    if (n > 0xffffffffu) {
        orx::SetError(interp, "text too long to encrypt");
        orx::ValueCode(interp, "TEXT");
        return false;
    }
    unsigned long long nb = BlockCount(n);
    out->clear();
    out->reserve(kHeaderLength + kBlockChars * (nb + 3));
    char lengthField[9];
    std::snprintf(lengthField, sizeof lengthField, "%08x", static_cast<unsigned>(n));
    out->append(kMarker).append(lengthField, 8);
    Cipher cipher(key, nb);
    unsigned char block[8];
    HexWordBlock(seed, block);
    cipher.EncryptBlock(block, 0, out);
    cipher.Rekey(key, seed);
    for (unsigned long long i = 1; i <= nb; ++i) {
        size_t start = (i - 1) * 8;
        size_t take = n - start < 8 ? n - start : 8;
        std::memset(block, ' ', 8);
        std::memcpy(block, text + start, take);
        cipher.EncryptBlock(block, i, out);
    }
    HexWordBlock(key.k0, block);
    cipher.EncryptBlock(block, nb + 1, out);
    HexWordBlock(key.k1, block);
    cipher.EncryptBlock(block, nb + 2, out);
    return true;
}

} // namespace orx

int DecryptString(Tcl_Interp *interp, int token, Tcl_DString *textPtr)
{
    return orx::Guard(interp, [&] {
        // One call per token: a value seen once cannot be replayed.
        bool valid = decryptToken >= 0 && token == decryptToken;
        decryptToken = -1;
        Key key;
        if (!GetKey(interp, &key)) {
            return TCL_ERROR;
        }
        if (!valid) {
            return orx::SetError(interp, "Illegal use of encryption.");
        }
        return Decrypt(interp, textPtr);
    });
}

int Orx_EncryptCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 3) {
        orx::SetError(interp, "usage: ", argv[0], " key text");
        return orx::UsageCode(interp);
    }
    return orx::Guard(interp, [&] {
        if (std::strcmp(argv[1], "-morva") == 0) {
            return MorvaTransform(interp, argv[2], true);
        }
        unsigned seed;
        if (!ReadSeed(argv[1], &seed)) {
            orx::SetError(interp, "key must be an integer");
            return orx::ValueCode(interp, "NUMBER", argv[1]);
        }
        std::string encrypted;
        if (!orx::EncryptText(interp, argv[2], std::strlen(argv[2]), seed, &encrypted)) {
            return TCL_ERROR;
        }
        Tcl_SetObjResult(interp, orx::NewStringObj(encrypted));
        return TCL_OK;
    });
}

int Orx_DecryptCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    bool morva = argc == 3 && std::strcmp(argv[1], "-morva") == 0;
    if (argc != 2 && !morva) {
        orx::SetError(interp, "usage: ", argv[0], " text");
        return orx::UsageCode(interp);
    }
    return orx::Guard(interp, [&] {
        const char *text = argv[argc - 1];
        if (morva) {
            return MorvaTransform(interp, text, false);
        }
        size_t length = std::strlen(text);
        if (length < kHeaderLength) {
            orx::SetError(interp, "string does not contain encrypted data");
            return orx::ValueCode(interp, "ENCRYPTED");
        }
        Tcl_DString buffer;
        Tcl_DStringInit(&buffer);
        Tcl_DStringAppend(&buffer, text, static_cast<int>(length));
        int token = orx::NewDecryptToken();
        if (DecryptString(interp, token, &buffer) != TCL_OK) {
            Tcl_DStringFree(&buffer);
            return TCL_ERROR;
        }
        Tcl_DStringResult(interp, &buffer);
        return TCL_OK;
    });
}
