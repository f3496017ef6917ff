// The reader: program text to tokens (yomikomi), token texts to leaf nodes
// (fatom, fnumber), token ranges to term graphs (fterm).
//
// starray: TokenCapacity slots of 9 bytes, a token of at most 8 characters and
// a zero byte each.  Slot i holds the i-th token of the current statement; the
// parser may write ")" after a range and an operator name over the last slot
// of an operand it has parsed.
//
// Bounds and what happens when each is reached:
//   TokenCapacity slots   "starray is overflow in yomikomi", the end, status 0
//                         (also when the parser would close parentheses past
//                         the last slot)
//   8 characters a word   "word is too long in yomikomi: W", the end, status 0
//   100 atoms             " atoms is overflow in fatom", the end, status 0
//   6 macros, 127-character bodies
//                         the macro statement is refused with a message
//   6 levels of macro expansion
//                         a deeper expansion can only be a macro reaching its
//                         own name: "macro is overflow in yomikomi: M", the end
#pragma once

#include <cstdint>

#include "store/store.h"

constexpr int AtomCapacity = 100;  // names in the AtomTable
constexpr int MacroRows = 6;       // rows of the MacroTable
constexpr int MacroBody = 128;     // body text of a macro row, zero byte included
constexpr int MaxWord = NameSlot - 1;  // characters of a token

extern std::int32_t TokenCapacity;     // slots in starray
extern char (*starray)[NameSlot];      // the token slots

extern char AtomName[AtomCapacity][NameSlot];  // AtomTable: names
extern Ref AtomNode[AtomCapacity];             // AtomTable: their nodes
extern std::int32_t AtomTop;                   // last used entry, -1 when empty
extern std::int32_t StartupAtomTop;            // AtomTop after start-up

struct MacroRow {
    char name[NameSlot];
    char body[MacroBody];  // tokens each followed by a blank, then ";"
};
extern MacroRow MacroTable[MacroRows];
extern std::int32_t MacroTop;  // last used row, -1 when empty

// Allocates starray; reports "MEMORY OVER nn" and ends start-up when it cannot.
void readerstart(std::int32_t tokencapacity);
void readerrelease();

// Tokenizes the next statement of LineBuffer (reading and echoing input lines
// as needed) into starray from slot start; removes its text through the ";".
// Returns the last slot written, start - 1 when the statement holds no token.
int yomikomi(int start);

// Replaces the unread text with a fixed statement (the constant terms).
void setline(const char* text);

// The node a token text stands for: a shared constant, a fresh number, or the
// interned atom of a name.
Ref fatom(const char* text);

// Converts a token starting with a digit or "-"; true for an integer (only
// *integer is set), false for a real (both set, *integer to its whole part).
bool fnumber(const char* text, std::int32_t* integer, float* real);

// True when fatom would give a number or a shared constant for this text.
bool isliteral(const char* text);

// The term for slots lo..hi.  Partial results are kept alive across
// collections in ParseRoots.
Ref fterm(int lo, int hi);

// Nodes the parser has built but not yet linked under a parent; roots.
extern Ref* ParseRoots;
extern std::int32_t ParseRootTop;  // entries in use
