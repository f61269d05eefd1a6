// Our stand-in for the stream classes of libtq_tessary behind the "-morva"
// mode of encrypt and decrypt: an input string stream over a caller's buffer
// whose stream buffer hands out the buffer encrypted or decrypted.
// The scheme is ours (docs/platform.md): the closed library's is unknown.
#ifndef ORX_PLATFORM_TQOSTREAM_H
#define ORX_PLATFORM_TQOSTREAM_H

#include <istream>
#include <streambuf>
#include <string>

#include "tq_tessary.h"

namespace tqo_detail {

// Transform size bytes of in (up to a zero byte) in the direction given
// (0 encrypt, 1 decrypt) into *out.  False, with *out empty, for a decrypt
// input that is not in our form.  May throw std::bad_alloc.
TQ_TESSARY_API bool Transform(int action, const char *in, std::streamsize size, std::string *out);

} // namespace tqo_detail

// Stream buffer that transforms; what it reads is fixed by its action.
template <class CharT, class Traits = std::char_traits<CharT>>
class basic_edbuf : public std::basic_streambuf<CharT, Traits> {
public:
    enum action { encrypt = 0, decrypt = 1 };
};

// The buffer of the string streams: transforms the whole source on the first
// read and then hands the output out.  failed() tells a decrypt input that
// was not in our form (the stream also gets badbit).
template <class CharT, class Traits = std::char_traits<CharT>>
class basic_tqo_edstrstreambuf : public basic_edbuf<CharT, Traits> {
    static_assert(sizeof(CharT) == 1, "byte streams only");

public:
    using action = typename basic_edbuf<CharT, Traits>::action;

    basic_tqo_edstrstreambuf(const CharT *source, std::streamsize size)
        : source_(source), size_(size)
    {
    }
    void set_action(action a) { action_ = a; }
    bool failed() const { return failed_; }

protected:
    typename Traits::int_type underflow() override
    {
        if (!done_) {
            done_ = true;
            failed_ = !tqo_detail::Transform(static_cast<int>(action_),
                                             reinterpret_cast<const char *>(source_), size_,
                                             &output_);
            CharT *begin = reinterpret_cast<CharT *>(&output_[0]);
            this->setg(begin, begin, begin + output_.size());
        }
        if (this->gptr() == this->egptr()) {
            return Traits::eof();
        }
        return Traits::to_int_type(*this->gptr());
    }

private:
    const CharT *source_;
    std::streamsize size_;
    action action_ = basic_edbuf<CharT, Traits>::encrypt;
    bool done_ = false;
    bool failed_ = false;
    std::string output_;
};

template <class CharT, class Traits = std::char_traits<CharT>>
class tqo_strstreambase {
public:
    tqo_strstreambase(const CharT *source, std::streamsize size) : buf_(source, size) {}
    basic_tqo_edstrstreambuf<CharT, Traits> *rdbuf() { return &buf_; }

protected:
    basic_tqo_edstrstreambuf<CharT, Traits> buf_;
};

// Input stream over (buffer, size); set_edFlag chooses the direction before
// the first read.
template <class CharT, class Traits = std::char_traits<CharT>>
class basic_tqo_istrstream : public tqo_strstreambase<CharT, Traits>,
                             public std::basic_istream<CharT, Traits> {
public:
    basic_tqo_istrstream(CharT *buffer, std::streamsize size)
        : tqo_strstreambase<CharT, Traits>(buffer, size),
          std::basic_istream<CharT, Traits>(&this->buf_)
    {
    }
    void set_edFlag(typename basic_edbuf<CharT, Traits>::action a) { this->buf_.set_action(a); }
    basic_tqo_edstrstreambuf<CharT, Traits> *rdbuf()
    {
        return tqo_strstreambase<CharT, Traits>::rdbuf();
    }
};

#endif
