// Macros: names whose token text is spliced into a statement wherever the
// tokenizer meets them (the splice itself is in tokenize.cpp).  The table is
// fixed: MacroRows rows with a body of at most MacroBody - 1 characters.
#include "reader/reader.h"

#include <cstring>
#include <string>

MacroRow MacroTable[MacroRows];
std::int32_t MacroTop = -1;

void defmacro(int n) {
    if (n < 1) return;  // "macro" with no name
    const char* name = starray[1];
    if (MacroTop + 1 >= MacroRows) {
        outf("macro table is full: %s\n", name);
        return;
    }
    std::string body;
    for (int i = 2; i <= n; i++) {
        body += starray[i];
        body += ' ';
    }
    body += ';';
    if (body.size() >= std::size_t(MacroBody)) {
        outf("macro body is too long: %s\n", name);
        return;
    }
    MacroTop++;
    std::strcpy(MacroTable[MacroTop].name, name);
    std::strcpy(MacroTable[MacroTop].body, body.c_str());
}

int macrofind(const char* word) {
    for (int row = 0; row <= MacroTop; row++)
        if (std::strcmp(word, MacroTable[row].name) == 0) return row;
    return -1;
}
