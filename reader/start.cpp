// The reader's start-up and release: the token array, the parser's tables
// sized from it, and the line buffer's first room, taken together and given
// back together.
#include "reader/internal.h"

void readerstart(std::int32_t tokencapacity) {
    // The tokenizer's array first: the parser's tables are sized from it.
    bool all = tokenizerstart(tokencapacity) && parserstart(tokencapacity) && inputstart();
    if (!all) {
        readerrelease();
        outf("MEMORY OVER nn%d\n", tokencapacity);
        endrun(1);
    }
    MacroTop = -1;
}

std::size_t readerbytes(std::int32_t tokencapacity) {
    if (tokencapacity < 0) return 0;
    return tokenizerbytes(tokencapacity) + parserbytes(tokencapacity) + LineFirstRoom;
}

void readerrelease() {
    tokenizerrelease();
    parserrelease();
    terminalrelease();
    textrelease(LineBuffer);
}
