// lgets: read one Tcl list from a channel, however many lines it spans.  The
// lines read are kept in one buffer (each with its newline put back) and
// parsed there with a list parser of our own, which asks for the next line
// whenever a braced or quoted element is still open at the buffer's end.
#include "orx_lgets.h"

#include "orx_util.h"
#include "base/internal.h"

#include <cstring>

namespace {

// The white space of list syntax: what isspace accepts in the C locale.
inline bool IsListSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Longest tail shown after a closing brace or quote.
constexpr int kShownChars = 20;

class ListReader {
public:
    ListReader(Tcl_Interp *interp, Tcl_Channel channel)
        : interp_(interp), channel_(channel), text_(Tcl_NewObj())
    {
        Tcl_IncrRefCount(text_);
    }
    ~ListReader() { Tcl_DecrRefCount(text_); }
    ListReader(const ListReader &) = delete;
    ListReader &operator=(const ListReader &) = delete;

    // Reads the list into *list (a new unshared list).  TCL_ERROR leaves
    // the message in the result and what was parsed in *list.
    int Read(Tcl_Obj *list);

    // The text from the parse position to the buffer's end, unparsed.
    Tcl_Obj *Rest() const
    {
        size_t length = Length();
        return length > pos_ ? Tcl_NewStringObj(Text() + pos_, static_cast<int>(length - pos_))
                             : nullptr;
    }
    // Characters read for this list, without the final newline.
    int CharsRead() const
    {
        int length = static_cast<int>(Length());
        return (sawNonAscii_ ? Tcl_NumUtfChars(Text(), length) : length) - 1;
    }

private:
    enum class Line { Read, End, Failed };

    const char *Text() const { return bytes_; }
    size_t Length() const { return length_; }
    void Refresh()
    {
        int length = 0;
        bytes_ = Tcl_GetStringFromObj(text_, &length);
        length_ = static_cast<size_t>(length);
    }
    Line ReadLine();
    int ParseElement(Tcl_Obj **elementPtr);
    int Junk(size_t at, bool braced);

    Tcl_Interp *interp_;
    Tcl_Channel channel_;
    Tcl_Obj *text_;       // the lines read, unshared
    const char *bytes_ = ""; // text_'s string as of the last line read
    size_t length_ = 0;
    size_t pos_ = 0; // next byte not yet parsed
    bool sawNonAscii_ = false; // the parser visits every byte read
};

// Appends the next line, newline kept, to the text; a last line without one is an error.
ListReader::Line ListReader::ReadLine()
{
    int got = Tcl_GetsObj(channel_, text_);
    Refresh();
    if (got < 0) {
        if (Tcl_Eof(channel_) || Tcl_InputBlocked(channel_)) {
            return Line::End;
        }
        Tcl_SetObjResult(interp_, Tcl_NewStringObj(orx::PosixCode(interp_, Tcl_GetErrno()), -1));
        return Line::Failed;
    }
    if (Tcl_Eof(channel_)) {
        Tcl_SetObjResult(interp_, Tcl_NewStringObj(
            "EOF encountered before newline while reading list from channel", -1));
        orx::ValueCode(interp_, "LIST");
        return Line::Failed;
    }
    Tcl_AppendToObj(text_, "\n", 1);
    Refresh();
    return Line::Read;
}

// The message for text after a closing brace or quote at byte `at`: the
// text up to the next white space, at most kShownChars characters.
int ListReader::Junk(size_t at, bool braced)
{
    const char *start = Text() + at;
    const char *end = Text() + Length();
    const char *p = start;
    for (int shown = 0; shown < kShownChars && p < end && !IsListSpace(*p); ++shown) {
        p = Tcl_UtfNext(p);
        if (p > end) {
            p = end;
        }
    }
    Tcl_ResetResult(interp_);
    Tcl_Obj *message = Tcl_NewStringObj(braced ? "list element in braces followed by \""
                                               : "list element in quotes followed by \"", -1);
    Tcl_AppendToObj(message, start, static_cast<int>(p - start));
    Tcl_AppendToObj(message, "\" instead of space", -1);
    Tcl_SetObjResult(interp_, message);
    return orx::ValueCode(interp_, "LIST");
}

// Parses the element at pos_ into a new object and skips the white space
// after it.  pos_ stays at the element's start when it fails on junk.
int ListReader::ParseElement(Tcl_Obj **elementPtr)
{
    size_t p = pos_;
    const char open = Text()[p];
    const bool braced = open == '{';
    const bool quoted = open == '"';
    if (braced || quoted) {
        ++p;
    }
    int depth = braced ? 1 : 0;
    // Substituted text of quoted and bare elements; their runs without a
    // backslash are copied in one piece.
    Tcl_Obj *value = nullptr; // made at the first substitution
    size_t runStart = p;
    size_t end = 0; // one past the element's last byte
    // A backslash-newline ending the buffer swallows the next line's
    // leading blanks too, as it would have in one piece of text.
    bool joinLines = false;
    auto flushRun = [&](size_t upTo) {
        if (value != nullptr && upTo > runStart) {
            Tcl_AppendToObj(value, Text() + runStart, static_cast<int>(upTo - runStart));
        }
    };
    for (;;) {
        if (p >= Length()) {
            if (!braced && !quoted) {
                end = p;
                break;
            }
            if (value != nullptr) {
                flushRun(p);
                runStart = p;
            }
            Line line = ReadLine();
            if (line != Line::Read) {
                if (line == Line::End) {
                    // Nothing of the open element is kept as unparsed text.
                    pos_ = Length();
                    Tcl_SetObjResult(interp_, Tcl_NewStringObj("EOF in list element", -1));
                    orx::ValueCode(interp_, "LIST");
                }
                if (value != nullptr) {
                    Tcl_DecrRefCount(value);
                }
                return TCL_ERROR;
            }
            if (joinLines && !braced) {
                while (p < Length() && (Text()[p] == ' ' || Text()[p] == '\t')) {
                    ++p;
                }
                runStart = p;
            }
            joinLines = false;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(Text()[p]);
        sawNonAscii_ |= c >= 0x80;
        if (c == '\\') {
            int count = 0;
            char bytes[8];
            int written = Tcl_UtfBackslash(Text() + p, &count, bytes);
            size_t take = static_cast<size_t>(count > 0 ? count : 1);
            if (take > Length() - p) {
                take = Length() - p; // a backslash before a zero byte at the end
            }
            for (size_t i = 1; i < take; ++i) {
                sawNonAscii_ |= static_cast<unsigned char>(Text()[p + i]) >= 0x80;
            }
            if (!braced) {
                if (value == nullptr) {
                    value = Tcl_NewObj();
                }
                flushRun(p);
                Tcl_AppendToObj(value, bytes, written);
                runStart = p + take;
            }
            p += take;
            joinLines = p == Length() && Text()[p - 1] == '\n';
            continue;
        }
        if (braced) {
            if (c == '{') {
                ++depth;
            } else if (c == '}' && --depth == 0) {
                end = p++;
                break;
            }
        } else if (quoted) {
            if (c == '"') {
                end = p++;
                break;
            }
        } else if (IsListSpace(c)) {
            end = p;
            break;
        }
        ++p;
    }
    if ((braced || quoted) && p < Length() && !IsListSpace(static_cast<unsigned char>(Text()[p]))) {
        if (value != nullptr) {
            Tcl_DecrRefCount(value);
        }
        return Junk(p, braced);
    }
    if (value == nullptr) {
        size_t first = braced || quoted ? pos_ + 1 : pos_;
        value = Tcl_NewStringObj(Text() + first, static_cast<int>(end - first));
    } else {
        flushRun(end);
    }
    while (p < Length() && IsListSpace(static_cast<unsigned char>(Text()[p]))) {
        ++p;
    }
    pos_ = p;
    *elementPtr = value;
    return TCL_OK;
}

int ListReader::Read(Tcl_Obj *list)
{
    Line first = ReadLine();
    if (first == Line::Failed) {
        return TCL_ERROR;
    }
    if (first == Line::End) {
        return TCL_OK;
    }
    while (pos_ < Length() && IsListSpace(static_cast<unsigned char>(Text()[pos_]))) {
        ++pos_;
    }
    while (pos_ < Length()) {
        Tcl_Obj *element = nullptr;
        if (ParseElement(&element) != TCL_OK) {
            return TCL_ERROR;
        }
        Tcl_ListObjAppendElement(nullptr, list, element);
    }
    return TCL_OK;
}

// lgets fileId ?varName?
int LgetsObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 2 || objc > 3) {
        return OrxX_WrongArgs(interp, objv[0], "fileId ?varName?");
    }
    Tcl_Channel channel = OrxX_GetOpenChannelObj(interp, objv[1], TCL_READABLE);
    if (channel == nullptr) {
        return TCL_ERROR;
    }
    Tcl_DString blocking;
    Tcl_DStringInit(&blocking);
    if (Tcl_GetChannelOption(interp, channel, "-blocking", &blocking) != TCL_OK) {
        Tcl_DStringFree(&blocking);
        return TCL_ERROR;
    }
    bool nonBlocking = std::strcmp(Tcl_DStringValue(&blocking), "0") == 0;
    Tcl_DStringFree(&blocking);
    if (nonBlocking) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(
            "channel is non-blocking; not currently supported by the lgets command", -1));
        return orx::ValueCode(interp, "CHANNEL", Tcl_GetString(objv[1]));
    }

    ListReader reader(interp, channel);
    Tcl_Obj *list = Tcl_NewObj();
    Tcl_IncrRefCount(list);
    int code = reader.Read(list);
    if (objc == 2) {
        if (code == TCL_OK) {
            Tcl_SetObjResult(interp, list);
        }
        Tcl_DecrRefCount(list);
        return code;
    }
    if (code != TCL_OK) {
        // Keep what was read: the unparsed rest becomes the last element.
        if (Tcl_Obj *rest = reader.Rest()) {
            Tcl_ListObjAppendElement(nullptr, list, rest);
        }
        Tcl_Obj *message = Tcl_GetObjResult(interp);
        Tcl_IncrRefCount(message);
        if (Tcl_ObjSetVar2(interp, objv[2], nullptr, list, TCL_LEAVE_ERR_MSG) != nullptr) {
            Tcl_SetObjResult(interp, message);
        }
        Tcl_DecrRefCount(message);
        Tcl_DecrRefCount(list);
        return TCL_ERROR;
    }
    // A write trace on the variable may close the channel: ask it first.
    int count = Tcl_Eof(channel) || Tcl_InputBlocked(channel) ? -1 : reader.CharsRead();
    bool stored = Tcl_ObjSetVar2(interp, objv[2], nullptr, list, TCL_LEAVE_ERR_MSG) != nullptr;
    Tcl_DecrRefCount(list);
    if (!stored) {
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(count));
    return TCL_OK;
}

} // namespace

int OrxXLgetsInit(Tcl_Interp *interp)
{
    Tcl_CreateObjCommand(interp, "lgets", LgetsObjCmd, nullptr, nullptr);
    return TCL_OK;
}
