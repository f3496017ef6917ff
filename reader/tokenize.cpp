// Line input and the tokenizer.  Input lines are read whole into LineBuffer
// and echoed as they are read; yomikomi cuts one statement into starray slots,
// skipping blanks and "%" comments, making each bracket a token of its own,
// and splicing in macro bodies wherever a word names a macro.
#include "reader/reader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

std::int32_t TokenCapacity = 1000;
char (*starray)[NameSlot] = nullptr;
InputSource Inputs[InputCapacity];
int InputCount = 0;
int InputAt = 0;
std::FILE* InputStream = nullptr;
int EchoChoice = -1;
bool EchoInput = true;
bool InputWaits = false;
TextBuffer LineBuffer;
std::int64_t LineNumber = 0;
std::int64_t StatementLine = 0;
long StatementColumn = 0;
bool KeepPlaces = false;
Place* TokenPlace = nullptr;
Place StatementPlace{};

// The unread text of the current line starts at LineStart: cutting a
// statement off moves the start instead of moving the rest of the line, so a
// long line holding many statements costs no more than reading it.
static long LineStart = 0;
static bool InputIsTerminal = false;  // the source is a terminal: typed lines, prompts
// Whether the statement being tokenized has begun (a token or a comment):
// a line read then continues it, and the terminal's prompt says so.
static bool StatementStarted = false;
// The room the line buffer starts with: lines of up to 127 characters, and
// the fixed statements of start-up, never grow it.
constexpr std::size_t LineFirstRoom = 128;
// The text of an over-long word, gathered for its report.
static TextBuffer WordText;

bool textgrow(TextBuffer& b) {
    // Twice the room keeps a long line's reading linear; when the machine
    // refuses that, an eighth more still lets a line fit that nearly fills
    // what is left.
    const std::size_t tries[2] = {b.room < LineFirstRoom / 2 ? LineFirstRoom : 2 * b.room,
                                  b.room + b.room / 8 + LineFirstRoom};
    for (std::size_t room : tries) {
        if (room <= b.room) continue;  // the doubling would overflow
        void* data = std::realloc(b.data, room);
        if (data != nullptr) {
            b.data = static_cast<char*>(data);
            b.room = room;
            return true;
        }
    }
    return false;
}

void textrelease(TextBuffer& b) {
    std::free(b.data);
    b = TextBuffer{};
}
// Where the tokenizer stood in the line (from LineStart) when it stopped a
// statement, and whether the statement's text is still to be skipped.
static long LineAt = 0;
static bool StopInText = false;

// Columns count characters, not bytes: a byte that continues a UTF-8
// sequence adds none.  Tokens are placed left to right, so the count goes on
// from the last token placed on the line instead of starting over.
static long CountedTo = 0;          // bytes of the line counted so far
static std::int32_t CountedChars = 0;  // characters among them

// What the statement being read has begun with, for the warning at the end
// of the input: nothing yet, a token, or a comment not yet closed.
enum Unfinished { NothingBegun, InStatement, InComment };
static int Pending = NothingBegun;
// Lines read from all sources together: a word whose first and last
// characters were read at different counts spans a line end.
static std::int64_t LinesRead = 0;
static Place PendingPlace{};  // where the statement or the comment began

bool inputadd(std::FILE* stream, bool close) {
    if (InputCount == InputCapacity) return false;
    Inputs[InputCount++] = InputSource{stream, close};
    return true;
}

void inputrelease() {
    for (int i = 0; i < InputCount; i++)
        if (Inputs[i].close && Inputs[i].stream != nullptr) std::fclose(Inputs[i].stream);
    InputCount = InputAt = 0;
    InputStream = nullptr;
}

// Makes source i the one being read.  A regular file is read at full speed
// with the output fully buffered; a pipe or a terminal may make the reader
// wait, so the output is flushed before every read from it and after every
// statement.  A stream without a descriptor (a test's memory stream) counts
// as a file.
static void inputselect(int i) {
    InputAt = i;
    InputStream = Inputs[i].stream;
    int fd = fileno(InputStream);
    struct stat st;
    InputIsTerminal = fd >= 0 && isatty(fd);
    InputWaits = fd >= 0 && fstat(fd, &st) == 0 && !S_ISREG(st.st_mode);
    // Typed lines are on the terminal already; a transcript going elsewhere
    // still gets them.
    EchoInput = EchoChoice >= 0 ? EchoChoice == 1
                                : !(InputIsTerminal && isatty(fileno(Output)));
    LineNumber = 0;
}

void readerstart(std::int32_t tokencapacity) {
    TokenCapacity = tokencapacity;
    starray = nullptr;
    if (tokencapacity >= 0) {
        starray = static_cast<char(*)[NameSlot]>(
            std::calloc(std::size_t(tokencapacity) + 1, NameSlot));
        LineBuffer.length = 0;
        bool all = starray != nullptr && parserstart(tokencapacity) &&
                   (LineBuffer.room >= LineFirstRoom || textgrow(LineBuffer));
        if (!all) readerrelease();
        if (all && KeepPlaces) {
            TokenPlace = static_cast<Place*>(std::calloc(std::size_t(tokencapacity) + 1, sizeof(Place)));
            if (TokenPlace == nullptr) readerrelease();
        }
    }
    if (starray == nullptr) {
        outf("MEMORY OVER nn%d\n", tokencapacity);
        endrun(1);
    }
    MacroTop = -1;
    LineBuffer.length = 0;
    LineStart = 0;
    CountedTo = CountedChars = 0;
    Pending = NothingBegun;
    LinesRead = 0;
    StatementPlace = Place{};
    if (InputCount > 0) inputselect(0);
}

std::size_t readerbytes(std::int32_t tokencapacity) {
    if (tokencapacity < 0) return 0;
    return (std::size_t(tokencapacity) + 1) * NameSlot + parserbytes(tokencapacity) + LineFirstRoom;
}

void readerrelease() {
    std::free(starray);
    starray = nullptr;
    std::free(TokenPlace);
    TokenPlace = nullptr;
    parserrelease();
    terminalrelease();
    textrelease(LineBuffer);
    textrelease(WordText);
}

// A line the buffer cannot hold: the line is dropped with its report and
// the statement stops.
[[noreturn]] static void linememory() {
    LineBuffer.length = 0;
    LineStart = 0;
    LineAt = -1;  // a skip of the statement's rest starts on the next line
    outs("line is too long for memory in yomikomi\n");
    stopstatement(Stop::Reading);
}

// Reads the next line of the program text into LineBuffer, without its line
// feed, and echoes it.  A source used up gives way to the next; at the end of
// the last it returns false, reading nothing.
__attribute__((noinline)) static bool linereadmore() {
    outcheck();
    LineBuffer.length = 0;
    LineStart = 0;
    CountedTo = CountedChars = 0;
    int c = 0;
    bool any = false;
    for (;;) {
        if (InputWaits) outflush();
        if (InputIsTerminal) {
            Typed typed = terminalread(InputStream, StatementStarted, LineBuffer);
            if (typed == Typed::TooLong) {
                LineNumber++;
                linememory();
            }
            any = typed == Typed::Line;
        } else {
            while ((c = getc_unlocked(InputStream)) != EOF) {
                any = true;
                if (c == '\n') break;
                if (!textpush(LineBuffer, char(c))) {
                    while (c != '\n' && c != EOF) c = getc_unlocked(InputStream);  // skip the rest
                    LineNumber++;
                    linememory();
                }
            }
        }
        // A signal came while the read waited (SIGINT's handler does not
        // restart reads, and line editing gives up its line): Ctrl-C drops
        // what was typed of the statement; any other signal, read on.
        bool cut = InputIsTerminal ? !any && Interrupted
                                   : c == EOF && std::ferror(InputStream) && errno == EINTR;
        if (cut) {
            if (!InputIsTerminal) std::clearerr(InputStream);
            if (Interrupted) {
                Interrupted = 0;
                LineBuffer.length = 0;
                LineStart = 0;
                stopstatement(Stop::Dropped);
            }
            continue;
        }
        if (any || InputAt + 1 >= InputCount) break;
        inputselect(InputAt + 1);
    }
    if (!any) {
        if (WarnOn && Pending != NothingBegun) warnunfinished(Pending, PendingPlace);
        return false;
    }
    LineNumber++;
    LinesRead++;
    if (!EchoInput) return true;
    std::fwrite(LineBuffer.data, 1, LineBuffer.length, Output);
    std::fputc('\n', Output);
    return true;
}

// The next line, as linereadmore; at the end of the input the run ends as the
// exit statement ends it, and an unfinished statement is dropped.
static void lineread() {
    if (!linereadmore()) theend();
}

// Text being tokenized: the current line, which reads on at its end, or a
// macro body, which always ends with ";" and never reads.
struct Text {
    const char* body;  // null for the line
};

static inline char charat(const Text& t, long p) {
    if (t.body == nullptr) return LineBuffer.data[LineStart + p];
    return t.body[p];
}

// The position after p, reading (and echoing) further lines when the text
// has no character after p.  Empty lines are echoed and skipped.
static inline long nextpos(const Text& t, long p) {
    if (t.body != nullptr) return t.body[p + 1] != '\0' ? p + 1 : p;
    while (p + 1 >= long(LineBuffer.length) - LineStart) {
        lineread();
        p = -1;
    }
    return p + 1;
}

// The place of position p of the current line.
static Place placeof(long p) {
    long at = LineStart + p;
    if (at < CountedTo) CountedTo = CountedChars = 0;  // setline went back
    for (; CountedTo < at; CountedTo++)
        if ((static_cast<unsigned char>(LineBuffer.data[CountedTo]) & 0xC0) != 0x80) CountedChars++;
    return Place{LineNumber, std::int32_t(InputAt), CountedChars + 1};
}

// nextpos for a caller that must see the end of the input: false there,
// instead of ending the run.
static inline bool advance(const Text& t, long& p) {
    if (t.body != nullptr) {
        p = nextpos(t, p);
        return true;
    }
    while (p + 1 >= long(LineBuffer.length) - LineStart) {
        if (!linereadmore()) return false;
        p = -1;
    }
    p++;
    return true;
}

static inline bool isbracket(char c) {
    return c == '(' || c == ')' || c == '[' || c == ']' || c == '{' || c == '}';
}
static inline bool isblank(char c) { return c == ' ' || c == '\t' || c == '\0'; }
static inline bool isterminator(char c) {
    return isblank(c) || isbracket(c) || c == '%' || c == '*' || c == '+' ||
           c == '-' || c == ';';
}

[[noreturn]] void slotoverflow() {
    outs("starray is overflow in yomikomi");
    if (KeepGoing) outs("\n");
    stopstatement(Stop::Reading);
}

// A word longer than a slot: read the rest of it so the report names it
// whole, then stop the statement.  The word may run on over further lines,
// which are echoed as they are read, so it is gathered before it is printed;
// a word too long to gather is read to its end all the same and reported
// without its text.  The input may end inside the word: the report comes
// all the same, naming what was read, and the run ends as after any other.
[[noreturn]] static void wordoverflow(const Text& t, long p, const char* start) {
    WordText.length = 0;
    bool held = true;
    for (const char* s = start; *s != '\0' && held; s++) held = textpush(WordText, *s);
    for (char c = charat(t, p); !isterminator(c); c = charat(t, p)) {
        held = held && textpush(WordText, c);
        if (!advance(t, p)) break;  // the input ends inside the word
    }
    if (t.body == nullptr) LineAt = p;
    if (!held) {
        outs("word is too long for memory in yomikomi\n");
        stopstatement(Stop::Reading);
    }
    outs("word is too long in yomikomi: ");
    std::fwrite(WordText.data, 1, WordText.length, Output);
    outs("\n");
    stopstatement(Stop::Reading);
}

static int tokenize(const Text& t, int start, int level);

// The macro check for slot i: when its word names a macro, the body's tokens
// replace it, and the result is the last slot they filled.
static int expandmacro(int i, int level) {
    int row = macrofind(starray[i]);
    if (row < 0) return i;
    // Every chain of distinct macros is at most MacroRows deep, so a deeper
    // expansion is a macro that reaches its own name.
    if (level >= MacroRows) {
        outf("macro is overflow in yomikomi: %s\n", MacroTable[row].name);
        stopstatement(Stop::Reading);
    }
    Place at = KeepPlaces ? TokenPlace[i] : Place{};
    int last = tokenize(Text{MacroTable[row].body}, i, level + 1);
    if (KeepPlaces)
        for (int j = i; j <= last; j++) TokenPlace[j] = at;
    return last;
}

static int tokenize(const Text& t, int start, int level) {
    int i = start;
    long p = nextpos(t, -1);
    for (;;) {
        char c = charat(t, p);
        if (c == ';' || (t.body != nullptr && c == '\0')) {
            if (t.body == nullptr) {
                LineStart += p + 1;  // the statement's text is used up
                Pending = NothingBegun;
            }
            return i - 1;
        }
        if (t.body == nullptr && !isblank(c)) StatementStarted = true;
        if (i >= TokenCapacity) {
            if (t.body == nullptr) LineAt = p;
            slotoverflow();
        }
        if (StatementLine == 0 && t.body == nullptr && !isblank(c) && c != '%') {
            StatementLine = LineNumber;  // the statement's first token
            StatementColumn = LineStart + p + 1;
        }
        char* slot = starray[i];
        slot[0] = c;
        slot[1] = '\0';
        Place start{};
        std::int64_t firstline = LinesRead;
        if (KeepPlaces && t.body == nullptr && !isblank(c)) {
            start = placeof(p);
            if (c != '%') {
                TokenPlace[i] = start;
                if (i == 0) StatementPlace = start;
                if (Pending == NothingBegun) {
                    Pending = InStatement;
                    PendingPlace = start;
                }
            }
        }
        if (isbracket(c)) {
            i++;
            p = nextpos(t, p);
        } else if (isblank(c)) {
            p = nextpos(t, p);  // the next token overwrites the slot
        } else if (c == '%') {
            int before = Pending;
            Place beforeplace = PendingPlace;
            if (KeepPlaces && t.body == nullptr) {
                Pending = InComment;
                PendingPlace = start;
            }
            do p = nextpos(t, p);
            while (charat(t, p) != '%');
            Pending = before;
            PendingPlace = beforeplace;
            p = nextpos(t, p);
        } else {
            int len = 1;
            std::int64_t lastline = LinesRead;  // the line of the word's last character
            for (;;) {
                p = nextpos(t, p);
                c = charat(t, p);
                if (isterminator(c)) break;
                if (len == MaxWord) {
                    slot[len] = '\0';
                    wordoverflow(t, p, slot);
                }
                slot[len++] = c;
                lastline = LinesRead;
            }
            slot[len] = '\0';
            if (WarnOn && t.body == nullptr) {
                if (std::strchr(slot, '\r') != nullptr) warncarriage(slot, start);
                if (lastline != firstline) warnjoined(slot, start);
            }
            if (MacroTop >= 0) {
                if (t.body == nullptr) LineAt = p;  // where to skip from if the expansion stops
                i = expandmacro(i, level);
            }
            i++;  // the terminator is examined next, as the start of what follows
        }
    }
}

int yomikomi(int start) {
    Pending = NothingBegun;
    StatementStarted = false;
    StatementLine = 0;
    StatementColumn = 0;
    StopInText = false;
    try {
        return tokenize(Text{nullptr}, start, 0);
    } catch (const StatementStop& stop) {
        StopInText = stop.why == Stop::Reading;
        throw;
    }
}

void skipstatement() {
    if (!StopInText) return;
    StopInText = false;
    Text t{nullptr};
    long p = LineAt;
    if (p < 0 || LineStart + p >= long(LineBuffer.length)) p = nextpos(t, -1);
    for (;;) {
        char c = charat(t, p);
        if (c == ';') {
            LineStart += p + 1;
            return;
        }
        if (c == '%') {
            do p = nextpos(t, p);
            while (charat(t, p) != '%');
        }
        p = nextpos(t, p);
    }
}

void setline(const char* text) {
    LineBuffer.length = 0;
    LineStart = 0;
    for (; *text != '\0'; text++)
        if (!textpush(LineBuffer, *text)) linememory();
    CountedTo = CountedChars = 0;
}
