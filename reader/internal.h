// What the reader's files share and no other subsystem may use: the line
// being read and where its unread rest starts (input.cpp), which the
// tokenizer cuts statements from, and the start-up of each part, which
// start.cpp runs in order.
#pragma once

#include "reader/reader.h"

// The room the line buffer starts with: lines of up to 127 characters, and
// the fixed statements of start-up, never grow it.
constexpr std::size_t LineFirstRoom = 128;

// The unread text of LineBuffer starts at LineStart: cutting a statement off
// moves the start instead of moving the rest of the line, so a long line
// holding many statements costs no more than reading it.  Written by the
// line reader (a new line starts at 0) and by the tokenizer (a statement cut
// off).
extern long LineStart;
// Lines read from all sources together: a word whose first and last
// characters were read at different counts spans a line end.
extern std::int64_t LinesRead;

// Empties the line, takes its first room and makes the first source the one
// being read; false when the room cannot be had.
bool inputstart();

// The token array of a capacity, starray and (with KeepPlaces) TokenPlace,
// and the tokenizer's state afresh; false when the capacity is negative or
// the array cannot be had.  tokenizerbytes: what the array takes.
// tokenizerrelease gives back what tokenizerstart took, whatever it got to.
bool tokenizerstart(std::int32_t tokencapacity);
std::size_t tokenizerbytes(std::int32_t tokencapacity);
void tokenizerrelease();

// The parser's root stack and bracket tree, sized from the token capacity
// (parse.cpp); false when they cannot be had.  parserbytes: what they take.
bool parserstart(std::int32_t tokencapacity);
std::size_t parserbytes(std::int32_t tokencapacity);
void parserrelease();

// A line too long for memory was dropped with its report (the statement it
// was read for stops): the next statement begins on the line after it, so
// the skip after the stop reads no further than the end of that line.  Set
// by the line reader, cleared by the tokenizer as it begins a statement.
extern bool LineDropped;
// The statement the reader dropped at Ctrl-C left the rest of its text in a
// pipe: the skip after the stop reads on through its ";".  Set by the line
// reader, read by the tokenizer.
extern bool DroppedTail;
// Reads on to the end of the dropped line, whose rest the reader left in
// the stream so that the report came at once (an endless line, read from
// /dev/zero, has no end to wait for); nothing when there is no such rest.
void skipdroppedline();

// Reads the next line of the program text into LineBuffer, without its line
// feed, and echoes it (when the source's lines are echoed).  A source used
// up gives way to the next; at the end of the last it returns false, reading
// nothing.  continuation says whether the statement being read has begun, so
// the terminal's prompt asks for more of it.  A line too long to hold is
// skipped with its report and the statement stops (Stop::Reading); Ctrl-C
// while the read waits drops what was typed of the statement (Stop::Dropped).
bool linereadmore(bool continuation);

// The place of position p of the unread text: the source, the line and the
// column, counted in characters (a byte that continues a UTF-8 sequence adds
// none).
Place placeof(long p);

// A line typed at the terminal was a command (its first character but
// blanks is ":"): linereadmore throws this instead of returning the line,
// and yomikomi hands the command up (CommandRead).  continuation: a
// statement had begun, and the command drops it.
struct CommandTyped {
    bool continuation;
};
