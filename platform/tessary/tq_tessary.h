/* Our stand-in for the product's closed library libtq_tessary, built as
 * libtq_tessary.so: the configuration store read from the installation's
 * tessary.cfg, memory files with the output units that write into them, error
 * reports and file access checks.  Plain C interface, no Tcl. */
#ifndef TQ_TESSARY_H
#define TQ_TESSARY_H

#include <stddef.h>

#if defined(_WIN32)
#define TQ_TESSARY_API __declspec(dllexport)
#elif defined(__GNUC__)
#define TQ_TESSARY_API __attribute__((visibility("default")))
#else
#define TQ_TESSARY_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Configuration files --------------------------------------------------
 * A parsed configuration file (format in docs/reference/config-file.md).
 * Parsing never fails as a whole: malformed lines are skipped and recorded as
 * messages "<file>:<line>: <what>". */
typedef struct TessaryConfig TessaryConfig;

/* Parse length bytes of text (no terminator needed) under the given file name
 * (used in messages; may be null).  Returns a new configuration the caller
 * frees with Tessary_ConfigFree; null only when memory runs out. */
TQ_TESSARY_API TessaryConfig *Tessary_ConfigParse(const char *text, size_t length,
                                           const char *fileName);
TQ_TESSARY_API void Tessary_ConfigFree(TessaryConfig *config);

/* Count and fetch entries, with the same meaning of absent (null) names as
 * c_mcfgn and mcf_getString.  Returned text belongs to the configuration. */
TQ_TESSARY_API int Tessary_ConfigCount(const TessaryConfig *config, const char *section,
                                const char *key);
TQ_TESSARY_API const char *Tessary_ConfigString(const TessaryConfig *config, const char *section,
                                         const char *key, int index);

/* Messages about malformed lines (and an unreadable file), index 0 up. */
TQ_TESSARY_API int Tessary_ConfigErrorCount(const TessaryConfig *config);
TQ_TESSARY_API const char *Tessary_ConfigError(const TessaryConfig *config, int index);

/* The file a configuration was read from ("" when none was found). */
TQ_TESSARY_API const char *Tessary_ConfigFileName(const TessaryConfig *config);

/* The process's configuration store: the file named by TESSARY_CONFIG, or else
 * config/tessary.cfg in the first MORVA_HOME directory that has one.  The file
 * is read again when its name, size or modification time changes; a file
 * whose text did not change keeps its reading.  Never null.
 *
 * Lifetime of what the store hands out (this configuration and every text of
 * c_mcfgn's listing, mcf_getString, mcf_getAppString): it stays valid until
 * the same thread's queries of the store have found two newer readings, that
 * is, until the file has changed twice under that thread; queries of other
 * threads never end it.  Copy a text that must live longer. */
TQ_TESSARY_API const TessaryConfig *Tessary_CurrentConfig(void);

/* The number of readings of the configuration file in memory now: the
 * current one and older ones some thread may still use (at most two per
 * thread that queried the store).  For diagnostics and tests. */
TQ_TESSARY_API int Tessary_ConfigReadings(void);

/* Number of values of key variable in section application.  With variable
 * null: the number of keys of the section; with application null: the number
 * of sections holding the key (all sections when both are null).  0 when
 * there is nothing. */
TQ_TESSARY_API int c_mcfgn(const char *application, const char *variable);

/* Value number index (from 1) of key in section; with a null name, the name
 * of entry number index of the listing c_mcfgn counts.  Null when absent.
 * The text stays valid as Tessary_CurrentConfig says. */
TQ_TESSARY_API const char *mcf_getString(const char *section, const char *key, int index);

/* Value number index of the key "VERSION" in the application's own section:
 * the value an application registers for itself.  Null when absent. */
TQ_TESSARY_API const char *mcf_getAppString(const char *application, int index);

/* ---- Memory files and output units ----------------------------------------
 * A memory file is a list of lines, named by a positive handle.  An output
 * unit writes lines, either to standard output (unit TQ_UNIT_STDOUT, the
 * current output when nothing was pushed) or to a memory file.  Units and
 * memory files are process-wide. */
#define TQ_UNIT_STDOUT 6

/* Attach a new output unit to the memory file *memFile, creating the file
 * (and storing its handle) when *memFile is 0.  Attaching to an existing file
 * empties it, unless c_ooseto("open_append", 1) came first.  Returns the
 * unit, or 0 when *memFile names no memory file.  flags is not used. */
TQ_TESSARY_API int c_oomfil(int *memFile, int flags);

/* Make unit the current output; returns unit, anything else is a failure. */
TQ_TESSARY_API int c_oopush(int unit);

/* Return to the output that was current before the last push; -1 when
 * nothing was pushed. */
TQ_TESSARY_API int c_oopop(void);

/* Close a unit, ending its pending line; 0, or -1 for an unknown unit or for
 * the standard output unit. */
TQ_TESSARY_API int c_ooclos(int unit);

/* Set an option for the next attachment: "open_append" with 1 makes it
 * append to the existing memory file (0 resets).  0, or -1 for an unknown
 * option. */
TQ_TESSARY_API int c_ooseto(const char *option, int value);

/* Add a terminated text, or length bytes of text, to the current line of the
 * current output; 0, or -1 when the current unit lost its memory file. */
TQ_TESSARY_API int c_oocs(const char *text);
TQ_TESSARY_API int c_ooca(const char *text, int length);

/* End the current line (an empty line when nothing is pending). */
TQ_TESSARY_API int c_oowrit(void);

/* End count lines: the first ends the pending line, or writes an empty line
 * when nothing is pending; the others write empty lines. */
TQ_TESSARY_API int c_oonewl(int count);

/* Open the memory file *memFile: mode 'r' rewinds it for reading, 'w' empties
 * it, 'a' leaves it as it is.  0, or -1 for an unknown file or mode. */
TQ_TESSARY_API int c_mfopen(int *memFile, int mode, int flags);

/* Read the next line into buffer.  A negative size -n copies at most n
 * characters and a terminating zero (buffer holds n + 1 bytes); a positive
 * size n copies at most n characters padded with blanks to n, unterminated.
 * Returns the number of characters copied (a longer line is cut), -1 at the
 * end, -2 for an unknown file or a size of 0. */
TQ_TESSARY_API int c_mfread(int memFile, char *buffer, int size);

/* Length of the line the next c_mfread returns (-1 at the end, -2 for an
 * unknown file), so that callers can size a buffer for whole lines. */
TQ_TESSARY_API int c_mfrlen(int memFile);

/* End reading or writing; the lines stay until c_mfdel.  0, or -1 when
 * *memFile names no memory file. */
TQ_TESSARY_API int c_mfclos(int *memFile);

/* Delete the memory file and set *memFile to 0.  Units still attached to it
 * write nowhere from then on.  0, or -1 for an unknown file. */
TQ_TESSARY_API int c_mfdel(int *memFile);

/* ---- Errors, access checks, strings ---------------------------------------- */

/* Report an error: "tessary: error <code> <text>" on standard error; the
 * code and text are kept for c_erlast. */
TQ_TESSARY_API void c_erc(int code, const char *text);

/* The last code reported by c_erc (0 when none), its text in *text (may be
 * null); the text stays valid until the next c_erc. */
TQ_TESSARY_API int c_erlast(const char **text);

/* 0 when the access named by mode is granted to path, non-zero otherwise.
 * Letters of mode, all of which must hold: "e" exists, "r" readable, "w"
 * writable, "x" executable or searchable, "d" is a directory, "f" is a
 * regular file.  An empty or unknown mode is refused. */
TQ_TESSARY_API int c_faccess(const char *path, const char *mode);

#ifdef __cplusplus
}
#endif

#endif
