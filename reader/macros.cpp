// Macros: names whose token text is spliced into a statement wherever the
// tokenizer meets them (the splice itself is in tokenize.cpp).  The table is
// fixed: MacroRows rows with a body of at most MacroBody - 1 characters.
#include "reader/reader.h"

#include <cstring>

MacroRow MacroTable[MacroRows];
std::int32_t MacroTop = -1;

void defmacro(int n) {
    if (n < 1) return;  // "macro" with no name
    const char* name = starray[1];
    if (MacroTop + 1 >= MacroRows) {
        notelimit("macro %s is refused: the macro table holds %d macros, kept for the whole run", name,
                  MacroRows);
        outf("macro table is full: %s\n", name);
        return;
    }
    // The body is built in place of its row: it never needs more than the
    // row holds, so a statement of any length costs no memory.
    char* body = MacroTable[MacroTop + 1].body;
    std::size_t length = 0;
    for (int i = 2; i <= n + 1; i++) {
        const char* piece = i <= n ? starray[i] : ";";
        std::size_t size = std::strlen(piece);
        if (length + size + (i <= n) >= std::size_t(MacroBody)) {
            notelimit("macro %s is refused: a body holds at most %d characters", name, MacroBody - 1);
            outf("macro body is too long: %s\n", name);
            return;
        }
        std::memcpy(body + length, piece, size);
        length += size;
        if (i <= n) body[length++] = ' ';
    }
    body[length] = '\0';
    MacroTop++;
    std::strcpy(MacroTable[MacroTop].name, name);
}

int macrofind(const char* word) {
    for (int row = 0; row <= MacroTop; row++)
        if (std::strcmp(word, MacroTable[row].name) == 0) return row;
    return -1;
}
