// The reader: program text to tokens (yomikomi), token texts to leaf nodes
// (fatom, fnumber), token ranges to term graphs (fterm).
//
// starray: TokenCapacity slots of 9 bytes, a token of at most 8 characters and
// a zero byte each.  Slot i holds the i-th token of the current statement; the
// parser may write ")" after a range and an operator name over the last slot
// of an operand it has parsed.
//
// Bounds and what happens when each is reached:
//   TokenCapacity slots   "starray is overflow in yomikomi", the statement
//                         stops (also when the parser would close
//                         parentheses past the last slot)
//   8 characters a word   "word is too long in yomikomi: W", the statement stops
//                         ("word is too long for memory in yomikomi" when the
//                         word itself is too long to hold)
//   a line longer than memory allows
//                         "line is too long for memory in yomikomi" at once, the
//                         statement stops; the line is dropped with what it
//                         held of the statement (its rest is read on only
//                         when the run goes on)
//   100 atoms             " atoms is overflow in fatom", the statement stops
//   6 macros, 127-character bodies
//                         the macro statement is refused with a message
//   6 levels of macro expansion
//                         a deeper expansion can only be a macro reaching its
//                         own name: "macro is overflow in yomikomi: M", the
//                         statement stops
// A stopped statement ends the run (Stop::Reading, see run/run.h), or with
// --keep-going only itself: skipstatement reads on through its ";", or
// after a dropped line to that line's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

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

// ---- input (input.cpp) ---------------------------------------------------
// The texts the program is read from, in turn: the files given to load, then
// the program itself, then, when asked, the terminal.  The end of the last
// one ends the run as the exit statement does.
constexpr int InputCapacity = 34;  // 32 files to load, the program, the terminal
extern std::FILE* InputStream;  // the source being read, or null before the first read
extern int EchoChoice;     // --echo 1, --no-echo 0, -1: every source but the terminal
extern bool InputWaits;    // the current source is a pipe or a terminal, not a file
// A growing run of characters, not zero-ended, taken with malloc and grown
// with realloc, so that memory refused comes back as false, never as an
// exception or an abort.
struct TextBuffer {
    char* data = nullptr;
    std::size_t length = 0;  // characters held
    std::size_t room = 0;    // bytes taken
};
// Makes room for at least one more character; false when the machine
// refuses (the buffer is then as it was).
bool textgrow(TextBuffer& b);
inline bool textpush(TextBuffer& b, char c) {
    if (b.length == b.room && !textgrow(b)) return false;
    b.data[b.length++] = c;
    return true;
}
void textrelease(TextBuffer& b);

// The current input line, without its line feed; the tokenizer cuts
// statements off its unread rest.  A line longer than memory allows is
// skipped with "line is too long for memory in yomikomi", and the statement
// stops.
extern TextBuffer LineBuffer;
extern std::int64_t LineNumber;  // lines read so far from the current source

// Opens a file of program text to read (the program, -l, :load): null when
// it cannot be opened or is a folder, with the reason's errno in why.
std::FILE* opentoread(const char* name, int& why);
// Adds a source after those listed; false when the list is full.
bool inputadd(std::FILE* stream, bool close);
// A file to read from the next line on, before the source being read goes
// on (a command typed at the terminal asked for it), closed when used up;
// files asked for together are read in order.  False when too many wait.
bool inputload(std::FILE* stream);
// Closes the sources the driver opened and empties the list.
void inputrelease();

// Replaces the unread text with a fixed statement (the constant terms).
void setline(const char* text);

// Reads one line typed at the terminal into line, without its line feed,
// after a prompt for a new statement or for the continuation of one.
// Typed::End at the end of input (Ctrl-D); Typed::TooLong when the line
// cannot be held.  Line editing and history (terminal.cpp).
enum class Typed { Line, End, TooLong };
Typed terminalread(std::FILE* in, bool continuation, TextBuffer& line);
// Forgets the terminal's set-up and history of this run.
void terminalrelease();
// What a command typed at the terminal takes after its word, for
// completion: nothing, a file name, on or off, a defined name or macro, or a
// term.
enum class Takes { Nothing, File, Switch, Name, Term };
struct SessionWord {
    const char* word;  // a command word ("exit") or a session command (":help")
    Takes takes;
};
// The words Tab completes beyond those the reader knows (defined names,
// macros, operators, true and false), and the line shown before the first
// prompt; the driver's, set before the terminal is first read.  words must
// outlive the run.
void terminalwords(const SessionWord* words, int count, const char* greeting);
// Where the prompt goes, and with it what the session tells the user at the
// terminal: standard output when it is the terminal, else standard error,
// so a transcript sent elsewhere holds none of it.
std::FILE* terminalout();

// ---- start-up (start.cpp) ---------------------------------------------------
// Allocates starray, the parser's tables for it and the line buffer's first
// room; reports "MEMORY OVER nn" and ends start-up when they cannot be had.
void readerstart(std::int32_t tokencapacity);
void readerrelease();
// The bytes readerstart takes for a capacity, which runkestrivo leaves
// free when it sizes the run's stack under a limit on the address space.
std::size_t readerbytes(std::int32_t tokencapacity);

// "starray is overflow in yomikomi", then the statement stops with its line
// left open (stopmidline).
[[noreturn]] void slotoverflow();

// ---- macros (macros.cpp) ---------------------------------------------------
// The macro statement "macro NAME BODY...;" in slots 0..n: the body's tokens,
// each followed by a blank, then ";", go in the next row of the MacroTable.
void defmacro(int n);
// The row whose name is word, or -1.
int macrofind(const char* word);

// ---- the tokenizer (tokenize.cpp) -------------------------------------------
// Where the statement being read began: the line (in its source) of its
// first token; 0 until the tokenizer has met one.
extern std::int64_t StatementLine;

// At a terminal, a line whose first character but blanks is ":" is a
// command to the session, never program text: yomikomi returns CommandRead
// instead of a statement, and typedcommand() is the line (until the next
// command).  Typed while a statement was unfinished, the command drops the
// statement, which a line on standard error says.
constexpr int CommandRead = -2;
const char* typedcommand();

// Tokenizes the next statement of LineBuffer (reading and echoing input lines
// as needed) into starray from slot start; removes its text through the ";".
// Returns the last slot written, start - 1 when the statement holds no token.
int yomikomi(int start);

// After the tokenizer stopped a statement (Stop::Reading), reads on through
// the statement's ";" (echoing the lines it reads), so the next statement
// starts after it; after a line dropped for memory, only to that line's
// end, so the next statement starts on the line after it; nothing when the
// stop came after the text was read.
void skipstatement();

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

// ---- places (tokenize.cpp) -------------------------------------------------
// Where a token was read: the source (its index in the list of sources, 0
// for the first), the line in that
// source and the column, counted in characters from 1.  Kept only when
// KeepPlaces is on (--warn, --dot; the driver sets it before readerstart), so
// a plain run pays nothing per token.  A token a macro supplied has the
// place of the macro's name; a ")" the parser supplies, the place of the
// range's last token.
struct Place {
    std::int64_t line;    // 0: no place known
    std::int32_t source;  // index in the list of sources
    std::int32_t column;  // 0: not known
};
extern bool KeepPlaces;
extern Place* TokenPlace;     // one per slot of starray, while KeepPlaces
extern Place StatementPlace;  // the first token of the statement last read

// ---- the program text for the event stream (source.cpp) -------------------
// Called only while EventsOn.  The reader keeps the lines it reads from the
// one where the last statement ended, and counts the bytes it has read.
void sourcestart();                                   // a run begins
void sourceline(const char* data, std::size_t length, int source);  // a line was read
// The reader is about to wait for a line of a pipe or a terminal: a "wait"
// event with the bytes read so far and whether a statement has begun.
void sourcewait();
// The "statement" event of the statement just read: its kind ("expression",
// "definition", "macro", "command"), its name (the defined name, the macro,
// the command word; null for an expression), where it begins and ends and
// its text from its first token through its ";".  Needs KeepPlaces.
void eventstatement(const char* kind, const char* name);

// ---- warnings (warnings.cpp) -----------------------------------------------
// What the reader can tell a user about the text it absorbs without a word:
// words run together across a line end, carriage returns inside words, input
// ending inside a statement or comment, brackets the parser closes or drops,
// names used but never defined, and defined names used as parameters.  Every
// entry point is called only when WarnOn is set.
void warnjoined(const char* word, const Place& start);   // a word spans lines
void warncarriage(const char* word, const Place& start); // a CR inside a word
// What the statement being read has begun with, for the warning at the end
// of the input: nothing yet, a token, or a comment not yet closed.
enum Unfinished { NothingBegun, InStatement, InComment };
// The input ends inside a statement or a comment, begun at start.
void warnunfinished(Unfinished inside, const Place& start);
// The parser's repairs, by slot: a "(" closed at the end of its range, a "("
// never closed and dropped, a ")" that closes nothing and is dropped.
void warnclosed(int slot);
void warndropopen(int slot);
void warndropclose(int slot);
// The parser's view of names: a lambda's parameter is being parsed (or no
// longer); a lambda body starts and ends; a leaf built from a slot.
void paramstart();
void paramend();
void scopepush(Ref parameter);
void scopepop();
void noteleaf(Ref leaf, int slot);
// Starts a statement's record of names (fterm calls it).
void notesstart();
// A definition statement's body was parsed: its names are kept with the
// definition, to be checked when an expression uses it.
void keepnotes(Ref definition);
// An expression statement was parsed: warns about every name it uses, or
// that the definitions it uses (and theirs, and so on) use, that is still
// not defined.
void checknames();
// The defined name, macro or operator nearest to word by edit distance, when
// one is close enough to be what was meant (the first of the nearest, in
// that order); null when none is.  A suggestion for a name nobody defined.
const char* nearestname(const char* word);
