// Bounded text operations: the only way the installer fills a fixed text
// buffer. Each takes the destination's size in bytes, never writes past it,
// and always leaves a zero-terminated text behind (for a size of at least 1).
#ifndef ORLO_PLATFORM_BOUNDED_TEXT_H
#define ORLO_PLATFORM_BOUNDED_TEXT_H

// Length of text, but at most maxLength (the text need not be terminated
// within maxLength bytes).
int textLength(const char* text, int maxLength);

// Copies source when it fits with its terminator: result 1. Otherwise the
// destination becomes empty and the result is 0, so a text that does not fit
// reads as absent.
int textCopy(char* destination, int destinationSize, const char* source);

// Copies as much of source as fits and terminates: 1 when all of it fitted,
// 0 when it was cut. For texts that are shown, never for paths.
int textCopyCut(char* destination, int destinationSize, const char* source);

// Appends source when the result fits: 1. Otherwise leaves the destination
// unchanged: 0.
int textAppend(char* destination, int destinationSize, const char* source);

// Formats into destination. Understands %s, %d, %u, %x and %%; anything else
// after a % is copied as it stands. 1 when the whole text fitted, 0 when it
// was cut (the destination then holds the terminated beginning).
int textFormat(char* destination, int destinationSize, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// 1 when both texts are equal byte for byte (case counts), else 0.
int textEqual(const char* first, const char* second);

// ---- Characters of the ANSI code page. In a double-byte code page (932,
// 936, 949, 950) a lead byte and the byte after it are one character, and
// that second byte may be a backslash ("\x83\x5C" is one character in 932).
// Every search for a separator steps by characters, never by bytes.

// Sets the lead bytes: pairs of first and last byte, ended by a zero pair or
// after pairCount pairs (the form of CPINFO.LeadByte). Until it is called,
// every byte is a character of its own. Called once, before any other thread.
void textSetLeadBytes(const unsigned char* ranges, int pairCount);

// Bytes of the character at text: 0 at the terminator, 2 for a lead byte
// followed by a byte that is not 0, otherwise 1.
int textCharBytes(const char* text);

// Byte index of the last character c (a single-byte character) in text,
// or -1.
int textFindLastChar(const char* text, char c);

#endif
