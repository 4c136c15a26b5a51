#include "platform/bounded_text.h"

#include <stdarg.h>

int textLength(const char* text, int maxLength) {
    int length = 0;
    while (length < maxLength && text[length] != 0) length++;
    return length;
}

int textCopy(char* destination, int destinationSize, const char* source) {
    if (destinationSize <= 0) return 0;
    const int length = textLength(source, destinationSize);
    if (length >= destinationSize) {
        destination[0] = 0;
        return 0;
    }
    for (int i = 0; i < length; i++) destination[i] = source[i];
    destination[length] = 0;
    return 1;
}

int textCopyCut(char* destination, int destinationSize, const char* source) {
    if (destinationSize <= 0) return 0;
    int i = 0;
    for (; i < destinationSize - 1 && source[i] != 0; i++) destination[i] = source[i];
    destination[i] = 0;
    return source[i] == 0 ? 1 : 0;
}

int textAppend(char* destination, int destinationSize, const char* source) {
    if (destinationSize <= 0) return 0;
    const int used = textLength(destination, destinationSize);
    if (used >= destinationSize) return 0;  // not terminated: refuse to touch it
    const int room = destinationSize - used;
    const int length = textLength(source, room);
    if (length >= room) return 0;
    for (int i = 0; i < length; i++) destination[used + i] = source[i];
    destination[used + length] = 0;
    return 1;
}

namespace {

struct FormatSink {
    char* out;
    int size;
    int used;
    int cut;
};

void put(FormatSink* sink, char c) {
    if (sink->used < sink->size - 1) {
        sink->out[sink->used++] = c;
    } else {
        sink->cut = 1;
    }
}

void putUnsigned(FormatSink* sink, unsigned value, unsigned base) {
    char digits[24];
    int count = 0;
    do {
        const unsigned digit = value % base;
        digits[count++] = (char)(digit < 10 ? '0' + digit : 'a' + digit - 10);
        value /= base;
    } while (value != 0);
    while (count > 0) put(sink, digits[--count]);
}

}  // namespace

int textFormat(char* destination, int destinationSize, const char* format, ...) {
    if (destinationSize <= 0) return 0;
    FormatSink sink = {destination, destinationSize, 0, 0};
    va_list args;
    va_start(args, format);
    for (const char* p = format; *p != 0; p++) {
        if (*p != '%') {
            put(&sink, *p);
            continue;
        }
        const char conversion = p[1];
        if (conversion == 's') {
            const char* s = va_arg(args, const char*);
            if (s == 0) s = "";
            while (*s != 0) put(&sink, *s++);
        } else if (conversion == 'd') {
            const int value = va_arg(args, int);
            if (value < 0) {
                put(&sink, '-');
                putUnsigned(&sink, 0u - (unsigned)value, 10);  // INT_MIN too
            } else {
                putUnsigned(&sink, (unsigned)value, 10);
            }
        } else if (conversion == 'u') {
            putUnsigned(&sink, va_arg(args, unsigned), 10);
        } else if (conversion == 'x') {
            putUnsigned(&sink, va_arg(args, unsigned), 16);
        } else if (conversion == '%') {
            put(&sink, '%');
        } else {
            put(&sink, '%');
            if (conversion == 0) break;
            put(&sink, conversion);
        }
        p++;
    }
    va_end(args);
    destination[sink.used] = 0;
    return sink.cut ? 0 : 1;
}

int textEqual(const char* first, const char* second) {
    while (*first != 0 && *first == *second) {
        first++;
        second++;
    }
    return *first == *second ? 1 : 0;
}

namespace {

unsigned char leadBytes[256];

}  // namespace

void textSetLeadBytes(const unsigned char* ranges, int pairCount) {
    for (int i = 0; i < 256; i++) leadBytes[i] = 0;
    for (int pair = 0; pair < pairCount; pair++) {
        const unsigned first = ranges[2 * pair], last = ranges[2 * pair + 1];
        if (first == 0 && last == 0) break;
        for (unsigned b = first; b <= last && b < 256; b++) leadBytes[b] = 1;
    }
}

int textCharBytes(const char* text) {
    if (text[0] == 0) return 0;
    return leadBytes[(unsigned char)text[0]] && text[1] != 0 ? 2 : 1;
}

int textFindLastChar(const char* text, char c) {
    int last = -1;
    for (int i = 0; text[i] != 0; i += textCharBytes(text + i)) {
        if (text[i] == c) last = i;
    }
    return last;
}
