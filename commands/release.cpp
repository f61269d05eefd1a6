// Release identification and legal notices of the product: orx:copyr,
// orx:relver, orx:relstring and the functions other product libraries call.
// Values come from the configuration store; notices are written line by line
// through an output unit into a memory file and read back from it.
#include "orx_release.h"

#include <cstring>
#include <string>
#include <vector>

#include "tq_tessary.h"
#include "base/internal.h"

namespace {

const char kCopyrightLine[] = " Copyright (c) 1996-2024 the Orx makers.";
static_assert(sizeof kCopyrightLine - 1 == 40, "the copyright line has 40 characters");

// Nine blocks of 2, 8, 2, 3, 1, 4, 3, 3 and 6 lines; a null entry separates
// blocks and becomes an empty line.
const char *const kLegalNotice[] = {
    "Orx circuit design and simulation software",
    "Copyright (c) 1996-2024 the makers of the Orx product. All rights reserved.",
    nullptr,
    "This software and its documentation are proprietary. They are licensed,",
    "not sold, and may be used only under the terms of the licence agreement",
    "that came with them. The software holds confidential information and",
    "trade secrets of its makers. You may install and run the software on as",
    "many computers as the licence agreement allows, and make one copy for",
    "backup purposes; every copy must carry this notice. Any other use,",
    "copying, distribution or disclosure needs the prior written permission",
    "of the makers of the Orx product.",
    nullptr,
    "You may not reverse engineer, decompile or disassemble the software,",
    "except to the extent that the applicable law expressly permits it.",
    nullptr,
    "The software is provided \"as is\", without warranty of any kind, express",
    "or implied, including warranties of merchantability, fitness for a",
    "particular purpose and non-infringement.",
    nullptr,
    "Results of simulations must be verified before they are used in production.",
    nullptr,
    "In no event shall the makers of the Orx product be liable for any",
    "damages, including loss of data, profits or business, arising from the",
    "use of or the inability to use the software, even if they have been",
    "advised of the possibility of such damages.",
    nullptr,
    "Use, duplication or disclosure by government agencies is subject to the",
    "restrictions of the licence agreement and of the regulations that apply",
    "to commercial computer software.",
    nullptr,
    "The software may be subject to export control laws. You agree not to",
    "export or re-export it, directly or indirectly, in violation of those",
    "laws or without the licences they require.",
    nullptr,
    "Orx and the names of its components are trademarks of the makers of the",
    "Orx product. Other names may be trademarks of their respective owners.",
    "Parts of the software are built on the Tcl scripting language, which is",
    "distributed under its own licence terms.",
    "For licence questions, contact your Orx product representative.",
    "Keep this notice with every copy of the software.",
};
static_assert(sizeof kLegalNotice / sizeof kLegalNotice[0] == 40, "the notice has 40 lines");

const char *const kInfoNotice[] = {
    "The following information identifies this copy of the software.",
    "Quote it in every support request and keep it with the licence",
    "agreement. Information: ",
};

const char kCopyrUsage[] = " ?-product name? ?-version number? ?-get_info string?";
const char kCopyrOptionUsage[] = " ?-product name? ?-get_info string?";

// The release data may lack a field; it prints as empty.
const char *OrEmpty(const char *text)
{
    return text != nullptr ? text : "";
}

// Output goes through the Tessary output layer, which may be redirected to a memory file.
void WriteLine(const std::string &line)
{
    c_ooca(line.data(), static_cast<int>(line.size()));
    c_oowrit();
}

// Null entries of the notice are blank lines.
void WriteLegalNotice()
{
    for (const char *line : kLegalNotice) {
        if (line != nullptr) {
            c_oocs(line);
            c_oowrit();
        } else {
            c_oonewl(1);
        }
    }
}

// Attaches a unit to *memFile and makes it current; 0 after reporting.
int Attach(int *memFile)
{
    int unit = c_oomfil(memFile, 0);
    if (unit == 0 || c_oopush(unit) != unit) {
        if (unit != 0) {
            c_ooclos(unit);
        }
        c_erc(2003, "- Memory File");
        return 0;
    }
    return unit;
}

// Undoes Attach: restores the previous output unit and closes the memory file.
void Detach(int unit, int *memFile)
{
    c_oopop();
    c_ooclos(unit);
    c_mfclos(memFile);
}

// Reads a memory file back whole (lines are never cut), then deletes it.
void TakeLines(int memFile, std::vector<std::string> &lines)
{
    c_mfopen(&memFile, 'r', 0);
    std::vector<char> buffer(257);
    for (int len; (len = c_mfrlen(memFile)) >= 0;) {
        if (static_cast<size_t>(len) + 1 > buffer.size()) {
            buffer.resize(static_cast<size_t>(len) + 1);
        }
        int got = c_mfread(memFile, buffer.data(), -static_cast<int>(buffer.size() - 1));
        if (got < 0) {
            break;
        }
        lines.emplace_back(buffer.data(), static_cast<size_t>(got));
    }
    c_mfclos(&memFile);
    c_mfdel(&memFile);
}

// Writes a memory file's lines to the current output; the file goes.
void CopyToOutput(int memFile)
{
    if (memFile == 0) {
        return;
    }
    std::vector<std::string> lines;
    TakeLines(memFile, lines);
    for (const auto &line : lines) {
        WriteLine(line);
    }
}

// Length of text cut to at most limit bytes without splitting a UTF-8
// character: a torn sequence would reach Tcl as a different character.
size_t CutLength(const std::string &text, size_t limit)
{
    if (text.size() <= limit) {
        return text.size();
    }
    while (limit > 0 && (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80) {
        --limit;
    }
    return limit;
}

// The one-line release text: release, version, build and copyright.
std::string ReleaseString(const char *product)
{
    std::string version = Tq_GetRelver(product);
    std::string text = std::string(Tq_GetRelInf("RELEASE")) + Tq_GetRelInf("DECORATION");
    if (version != " ") {
        text += "-" + version;
    }
    text += std::string(" Build ") + Tq_GetRelInf("BUILD_NUMBER") + " on " +
            Tq_GetRelInf("BUILD_DATE") + kCopyrightLine;
    // The release string has always been built in 128 bytes.
    text.resize(CutLength(text, 127));
    return text;
}

// The text of a (pointer, length) argument up to its length, without
// trailing blanks; a zero byte ends it early.
std::string Trimmed(const char *text, int length)
{
    if (text == nullptr || length <= 0) {
        return std::string();
    }
    size_t n = 0;
    while (n < static_cast<size_t>(length) && text[n] != '\0') {
        ++n;
    }
    while (n > 0 && text[n - 1] == ' ') {
        --n;
    }
    return std::string(text, n);
}

// The copyr family's own usage message, not Tcl's wrong # args.
int IllegalArguments(Tcl_Interp *interp, const char *commandName, const char *usage)
{
    Tcl_ResetResult(interp);
    orx::AppendResult(interp, "illegal arguments:  should be \"", commandName, usage, "\"");
    return orx::UsageCode(interp);
}

// Body of copyr; option values come in pairs, at most three of them.
int CopyrBody(Tcl_Interp *interp, int argc, const char *argv[])
{
    const int words = argc - 1;
    if (words != 0 && words != 2 && words != 4 && words != 6) {
        return IllegalArguments(interp, argv[0], kCopyrUsage);
    }
    const char *product = nullptr;
    const char *info = nullptr;
    for (int i = 1; i < argc; i += 2) {
        const char *option = argv[i];
        if (std::strcmp(option, "-product") == 0) {
            product = argv[i + 1];
        } else if (std::strcmp(option, "-get_info") == 0) {
            info = argv[i + 1];
        } else if (std::strcmp(option, "-version") != 0) {
            return IllegalArguments(interp, argv[0], kCopyrOptionUsage);
        }
    }
    int memFile = 0;
    if (product == nullptr) {
        c_mf_copyr(&memFile);
    } else {
        memFile = c_mcopyr(product, product, info);
    }
    Tcl_ResetResult(interp);
    if (memFile == 0) {
        orx::AppendResult(interp, "couldn't write the notice: no memory file for its output unit");
        return TCL_ERROR;
    }
    std::vector<std::string> lines;
    TakeLines(memFile, lines);
    Tcl_DString text;
    Tcl_DStringInit(&text);
    for (const auto &line : lines) {
        Tcl_DStringAppend(&text, line.data(), static_cast<int>(line.size()));
        Tcl_DStringAppend(&text, "\n", 1);
    }
    Tcl_DStringResult(interp, &text);
    return TCL_OK;
}

} // namespace

const char *Tq_GetRelver(const char *product)
{
    if (product == nullptr) {
        return " ";
    }
    const char *version = mcf_getAppString(product, 1);
    if (version == nullptr) {
        version = mcf_getString("VERSIONS", product, 1);
    }
    return version != nullptr ? version : " ";
}

const char *Tq_GetRelInf(const char *key)
{
    if (key == nullptr) {
        return "";
    }
    return OrEmpty(mcf_getString("RELINFO", key, 1));
}

const char *Tq_GetRelstring(void)
{
    return kCopyrightLine;
}

void c_reln(const char *product, char *out, int *outLength, int maxLength)
{
    int length = 0;
    if (maxLength >= 1 && out != nullptr) {
        try {
            std::string text = ReleaseString(product);
            length = static_cast<int>(CutLength(text, static_cast<size_t>(maxLength - 1)));
            std::memcpy(out, text.data(), static_cast<size_t>(length));
        } catch (const std::exception &) {
            length = 0;
        }
        out[length] = '\0';
    }
    if (outLength != nullptr) {
        *outLength = length;
    }
}

void c_mf_copyr(int *memFile)
{
    if (memFile == nullptr) {
        return;
    }
    if (*memFile != 0) {
        c_ooseto("open_append", 1);
    }
    int unit = Attach(memFile);
    if (unit == 0) {
        c_ooseto("open_append", 0);
        *memFile = 0;
        return;
    }
    WriteLegalNotice();
    Detach(unit, memFile);
}

int c_mcopyr(const char *product, const char *label, const char *info)
{
    try {
        std::string headline = std::string(OrEmpty(label)) + " " + ReleaseString(product);
        int memFile = 0;
        int unit;
        if (info != nullptr && *info != '\0') {
            if ((unit = Attach(&memFile)) == 0) {
                return 0;
            }
            WriteLine(headline);
            for (const char *line : kInfoNotice) {
                WriteLine(line);
            }
            WriteLine(info);
            c_oonewl(1);
        } else {
            c_mf_copyr(&memFile);
            if (memFile == 0) {
                return 0;
            }
            c_ooseto("open_append", 1);
            if ((unit = Attach(&memFile)) == 0) {
                c_ooseto("open_append", 0);
                c_mfdel(&memFile);
                return 0;
            }
            c_oonewl(1);
            WriteLine(headline);
            c_oonewl(1);
        }
        Detach(unit, &memFile);
        return memFile;
    } catch (const std::exception &) {
        return 0;
    }
}

void c_op_mcopyr(const char *product, const char *label, const char *info)
{
    try {
        CopyToOutput(c_mcopyr(product, label, info));
    } catch (const std::exception &) {
    }
}

void c_copyr(void)
{
    try {
        int memFile = 0;
        c_mf_copyr(&memFile);
        CopyToOutput(memFile);
    } catch (const std::exception &) {
    }
}

void MF_COPYR(int *memFile)
{
    c_mf_copyr(memFile);
}

void COPYR(void)
{
    c_copyr();
}

int MCOPYR(const char *product, const char *label, const char *info, int productLength,
           int labelLength, int infoLength)
{
    try {
        std::string p = Trimmed(product, productLength), l = Trimmed(label, labelLength),
                    i = Trimmed(info, infoLength);
        return c_mcopyr(p.c_str(), l.c_str(), i.c_str());
    } catch (const std::exception &) {
        return 0;
    }
}

void OP_MCOPYR(const char *product, const char *label, const char *info, int productLength,
               int labelLength, int infoLength)
{
    try {
        std::string p = Trimmed(product, productLength), l = Trimmed(label, labelLength),
                    i = Trimmed(info, infoLength);
        c_op_mcopyr(p.c_str(), l.c_str(), i.c_str());
    } catch (const std::exception &) {
    }
}

void RELN(const char *product, char *out, int *outLength, const int *maxLength,
          int productLength)
{
    try {
        std::string p = Trimmed(product, productLength);
        c_reln(p.c_str(), out, outLength, maxLength != nullptr ? *maxLength : 0);
    } catch (const std::exception &) {
        if (outLength != nullptr) {
            *outLength = 0;
        }
    }
}

int Orx_CopyrCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    try {
        return CopyrBody(interp, argc, argv);
    } catch (const std::exception &) {
        Tcl_SetResult(interp, const_cast<char *>("out of memory"), TCL_STATIC);
        return TCL_ERROR;
    }
}

int Orx_Copyr(Tcl_Interp *interp, int argc, const char *argv[])
{
    return Orx_CopyrCmd(nullptr, interp, argc, argv);
}

int Orx_RelverCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 2) {
        return IllegalArguments(interp, argv[0], " product");
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(Tq_GetRelver(argv[1]), -1));
    return TCL_OK;
}

int Orx_RelstringCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 2) {
        return IllegalArguments(interp, argv[0], " product");
    }
    if (std::strcmp(argv[1], "COPYRIGHT") == 0) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(kCopyrightLine, -1));
        return TCL_OK;
    }
    char buffer[256];
    int length = 0;
    c_reln(argv[1], buffer, &length, static_cast<int>(sizeof buffer));
    Tcl_SetObjResult(interp, Tcl_NewStringObj(buffer, length));
    return TCL_OK;
}
