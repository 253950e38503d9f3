// Text mode (UTF-8 or ISO-8859-1), the UTF-8 codec, conversions between the
// two encodings, character classes, case mapping and the comparisons used
// for sorting. Every character function follows qxTextModeUtf8.
#pragma once
#include <cstddef>
#include <cstdint>

extern "C" {

// 1 UTF-8 (the initial mode), 0 ISO-8859-1. Set once at start-up.
extern int qxTextModeUtf8;
void qxSetTextModeUtf8(int utf8);
// The default encoding of string and character commands (1 UTF-8, 0
// ISO-8859-1): follows the text mode until SetDefaultEncoding changes it.
extern uint32_t qxDefaultEncoding;

// ---- UTF-8 codec ----

// Writes 1 to 4 bytes and a terminator; returns the encoded length (U+0000
// gives 1: a zero byte). Values of 0x110000 and above write only the
// terminator and return 0.
int qxUtf8Encode(char *buffer, uint32_t codePoint);
// Unvalidated decode at text[*position]: the byte there plus up to three
// following continuation bytes (never past a zero byte); advances *position.
uint32_t qxUtf8DecodeAt(const char *text, size_t *position);
// Validated decode of one character before end. A malformed, overlong,
// surrogate or truncated sequence yields its first byte with length 1.
// Returns 0 when text >= end.
int qxUtf8DecodeN(const char *text, const char *end, uint32_t *codePoint);
// Validates length bytes; returns 1 for valid UTF-8, 0 otherwise. count (may
// be NULL) receives the number of characters (valid ones before the first
// bad sequence on failure).
int qxUtf8Scan(const char *text, size_t length, size_t *count);
// Character counts; -1 (and *malformed = 1) for malformed text.
long qxUtf8CountN(const char *text, size_t length, int *malformed);
long qxUtf8Length(const char *text, int *malformed);
// Byte offset after n characters of a zero-terminated text (stops at the end).
size_t qxUtf8Offset(const char *text, size_t n);
size_t qxUtf8OffsetFast(const char *text, size_t n);
// Next character start before end (end when none); previous character start
// not before start; characters between two pointers.
const char *qxUtf8Next(const char *p, const char *end);
const char *qxUtf8Prev(const char *start, const char *p);
size_t qxUtf8CountRange(const char *from, const char *to);

// ---- Conversions ----

// Destination must hold qxLatin1ToUtf8Size(source) bytes. Returns the
// output length without the terminator.
size_t qxLatin1ToUtf8(const char *source, char *destination);
size_t qxLatin1ToUtf8Size(const char *source); // including the terminator; 0 on overflow
char *qxLatin1ToUtf8Dup(const char *source);
// length bytes, zero bytes included; the destination needs 2 * length bytes
// and gets no terminator. Returns the output length.
size_t qxLatin1ToUtf8Length(const char *source, size_t length, char *destination);
// Converts at most limit source bytes (stops earlier at a zero byte); the
// destination needs limit + 1 bytes. When *marker points into the consumed
// source it is moved to the matching output position. Returns the output length.
size_t qxUtf8ToLatin1(const char *source, char *destination, size_t limit, char **marker);
char *qxUtf8ToLatin1Dup(const char *source);
// Bounded form: writes at most capacity - 1 bytes and a terminator.
size_t qxUtf8ToLatin1Buf(const char *source, char *buffer, size_t capacity);
// from/to: 0 ISO-8859-1, 1 UTF-8. An allocated copy (qxFree), NULL for any
// other pair or when memory runs out.
char *qxConvertText(const char *text, int from, int to);

// Reads a whole file as UTF-8 text: a byte-order mark is dropped, text that
// is not valid UTF-8 is taken as ISO-8859-1 and converted. *text (qxFree)
// is zero-terminated, *length excludes the terminator.
// Returns 0, 1045 (cannot open), 1009 (read error), 1000 (memory) or 1303.
int qxReadTextFile(const char *path, char **text, size_t *length);

// ---- Classes and case ----

int qxIsGraph(uint32_t c);
int qxIsAlpha(uint32_t c);
int qxIsAlnum(uint32_t c);
int qxUniIsAlpha(uint32_t c);
int qxUniIsLower(uint32_t c);
int qxUniIsUpper(uint32_t c);
int qxUniIsCntrl(uint32_t c);
int qxUniIsDigit(uint32_t c);
int qxUniIsXDigit(uint32_t c);
int qxUniIsPunct(uint32_t c);
int qxUniIsSpace(uint32_t c);
int qxUniIsGraph(uint32_t c);
int qxUniIsPrint(uint32_t c);
int qxUniIsAlnum(uint32_t c);
int qxIsGraphLatin1(uint32_t c);
int qxIsAlphaLatin1(uint32_t c);
int qxIsAlnumLatin1(uint32_t c);
int qxIsLowerLatin1(uint32_t c);
int qxIsUpperLatin1(uint32_t c);

uint32_t qxToLower(uint32_t c);
uint32_t qxToUpper(uint32_t c);
uint32_t qxUniToLower(uint32_t c);
uint32_t qxUniToUpper(uint32_t c);
uint32_t qxUniFold(uint32_t c); // folding used by the case-insensitive comparisons
uint32_t qxToLowerLatin1(uint32_t c);
uint32_t qxToUpperLatin1(uint32_t c);

// In place, in the current mode.
void qxStrLower(char *text);
void qxStrUpper(char *text);
// Writes one character in the current mode and a terminator; returns its length.
int qxPutChar(char *buffer, uint32_t c);

// ---- Comparisons ----

int qxStrICmp(const char *a, const char *b);
int qxStrNICmp(const char *a, const char *b, size_t n);
int qxUtf8StrICmp(const char *a, const char *b);
int qxUtf8StrNICmp(const char *a, const char *b, size_t n);
// Sort order (-1, 0, 1): collation in UTF-8 mode, else strcmp or qxStrICmp.
int qxStrCompare(const char *a, const char *b, int caseSensitive);
// Frees the collation matrices (built on first use); called at exit.
void qxFreeCollation(void);
}
