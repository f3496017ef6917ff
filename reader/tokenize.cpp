// The tokenizer: yomikomi cuts one statement of the input into starray slots,
// skipping blanks and "%" comments, making each bracket a token of its own,
// and splicing in macro bodies wherever a word names a macro.  The lines it
// cuts from are read and echoed by input.cpp.
#include "reader/internal.h"

#include <cstdlib>
#include <cstring>

std::int32_t TokenCapacity = 1000;
char (*starray)[NameSlot] = nullptr;
std::int64_t StatementLine = 0;
bool KeepPlaces = false;
Place* TokenPlace = nullptr;
Place StatementPlace{};

// Whether the statement being tokenized has begun (a token or a comment):
// a line read then continues it, and the terminal's prompt says so.
static bool StatementStarted = false;
// The text of an over-long word, gathered for its report.
static TextBuffer WordText;
// Where the tokenizer stood in the line (from LineStart) when it stopped a
// statement, and whether the statement's text is still to be skipped.
static long LineAt = 0;
static bool StopInText = false;
// A command was typed while skipstatement read on: yomikomi hands it up next.
static bool CommandWaiting = false;

// What the statement being read has begun with, for the warning at the end
// of the input, and where the statement or the comment began.
static Unfinished Pending = NothingBegun;
static Place PendingPlace{};

bool tokenizerstart(std::int32_t tokencapacity) {
    TokenCapacity = tokencapacity;
    Pending = NothingBegun;
    StatementPlace = Place{};
    if (tokencapacity < 0) return false;
    starray = static_cast<char(*)[NameSlot]>(std::calloc(std::size_t(tokencapacity) + 1, NameSlot));
    if (starray == nullptr) return false;
    if (KeepPlaces) {
        TokenPlace = static_cast<Place*>(std::calloc(std::size_t(tokencapacity) + 1, sizeof(Place)));
        if (TokenPlace == nullptr) return false;
    }
    return true;
}

std::size_t tokenizerbytes(std::int32_t tokencapacity) {
    return (std::size_t(tokencapacity) + 1) * NameSlot;
}

void tokenizerrelease() {
    std::free(starray);
    starray = nullptr;
    std::free(TokenPlace);
    TokenPlace = nullptr;
    textrelease(WordText);
}

// The next line (linereadmore); at the end of the input, the warning about
// the statement or the comment it leaves unfinished.
static bool readmore() {
    if (linereadmore(StatementStarted)) return true;
    if (WarnOn && Pending != NothingBegun) warnunfinished(Pending, PendingPlace);
    return false;
}

// The next line, as readmore; at the end of the input the run ends as the
// exit statement ends it, and an unfinished statement is dropped.
static void lineread() {
    if (!readmore()) theend();
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

// nextpos for a caller that must see the end of the input: false there,
// instead of ending the run.
static inline bool advance(const Text& t, long& p) {
    if (t.body != nullptr) {
        p = nextpos(t, p);
        return true;
    }
    while (p + 1 >= long(LineBuffer.length) - LineStart) {
        if (!readmore()) return false;
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
    notelimit("the statement needs more than the %d slots of the token array; the third number "
              "after the file name gives more (kestrivo FILE LASTBLOCK TOKENS)",
              int(TokenCapacity));
    outs("starray is overflow in yomikomi");
    stopmidline(Stop::Reading);
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
        notelimit("a word too long for memory; words have at most %d characters", MaxWord);
        outs("word is too long for memory in yomikomi\n");
        stopstatement(Stop::Reading);
    }
    // The note quotes a long word by its beginning.
    constexpr std::size_t QuotedWord = 40;
    if (WordText.length <= QuotedWord)
        notelimit("'%.*s' has %zu characters; words have at most %d", int(WordText.length), WordText.data,
                  WordText.length, MaxWord);
    else
        notelimit("'%.*s...' has %zu characters; words have at most %d", int(QuotedWord - 8), WordText.data,
                  WordText.length, MaxWord);
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
        notelimit("macro %s reaches its own name: macros nest at most %d deep", MacroTable[row].name, MacroRows);
        outf("macro is overflow in yomikomi: %s\n", MacroTable[row].name);
        stopstatement(Stop::Reading);
    }
    Place at = KeepPlaces ? TokenPlace[i] : Place{};
    int last = tokenize(Text{MacroTable[row].body}, i, level + 1);
    if (KeepPlaces)
        for (int j = i; j <= last; j++) TokenPlace[j] = at;
    return last;
}

// The end of the statement at p: a macro body's, or the line's ";", whose
// text is then used up.  Returns the last slot filled.
static int statementend(const Text& t, long p, int i) {
    if (t.body == nullptr) {
        LineStart += p + 1;
        Pending = NothingBegun;
    }
    return i - 1;
}

// Slot i would be past the token array: the statement stops, and a skip of
// its rest starts from p.
[[noreturn]] static void slotsfull(const Text& t, long p) {
    if (t.body == nullptr) LineAt = p;
    slotoverflow();
}

// Notes where the statement starts, for the character c at p that is about
// to fill slot i: the line of its first token and, with KeepPlaces, the
// token's place, the statement's place (slot 0) and where the statement
// began, for the warning about input that ends inside it.  Returns the place
// of c, or no place (a blank, a character of a macro body, KeepPlaces off).
// A comment's "%" gets its place but is no token.
static Place notestart(const Text& t, long p, char c, int i) {
    if (t.body != nullptr || isblank(c)) return Place{};
    if (StatementLine == 0 && c != '%') StatementLine = LineNumber;  // the statement's first token
    if (!KeepPlaces) return Place{};
    Place start = placeof(p);
    if (c == '%') return start;
    TokenPlace[i] = start;
    if (i == 0) StatementPlace = start;
    if (Pending == NothingBegun) {
        Pending = InStatement;
        PendingPlace = start;
    }
    return start;
}

// Skips the comment whose opening "%" is at p, begun at start; returns the
// position after its closing "%".  The input may end inside it, with a
// warning that names where it began.
static long skipcomment(const Text& t, long p, const Place& start) {
    Unfinished before = Pending;
    Place beforeplace = PendingPlace;
    if (KeepPlaces && t.body == nullptr) {
        Pending = InComment;
        PendingPlace = start;
    }
    do p = nextpos(t, p);
    while (charat(t, p) != '%');
    Pending = before;
    PendingPlace = beforeplace;
    return nextpos(t, p);
}

// Reads the word whose first character, at p, is in slot already; returns
// the position of the character that ends it.  A word over MaxWord
// characters stops the statement (wordoverflow); with --warn, a word that
// runs on across a line end or holds a carriage return is reported.
static long readword(const Text& t, long p, char* slot, const Place& start) {
    std::int64_t firstline = LinesRead;  // the line of the word's first character
    std::int64_t lastline = firstline;   // and of its last
    int len = 1;
    for (;;) {
        p = nextpos(t, p);
        char c = charat(t, p);
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
    return p;
}

// Cuts the statement of text t into slots from start on, level macro bodies
// deep (0 for the line itself), and returns the last slot filled: start - 1
// when the statement holds no token.  Its text through the ";" is used up;
// the character after a word or a bracket is examined next, as the start of
// what follows.  A full token array, a word too long and a macro reaching its
// own name stop the statement (Stop::Reading); the end of the input inside
// the statement ends the run (theend).
static int tokenize(const Text& t, int start, int level) {
    int i = start;
    long p = nextpos(t, -1);
    for (;;) {
        char c = charat(t, p);
        if (c == ';' || (t.body != nullptr && c == '\0')) return statementend(t, p, i);
        if (t.body == nullptr && !isblank(c)) StatementStarted = true;
        if (i >= TokenCapacity) slotsfull(t, p);
        Place place = notestart(t, p, c, i);
        char* slot = starray[i];
        slot[0] = c;
        slot[1] = '\0';
        if (isbracket(c)) {
            i++;
            p = nextpos(t, p);
        } else if (isblank(c)) {
            p = nextpos(t, p);  // the next token overwrites the slot
        } else if (c == '%') {
            p = skipcomment(t, p, place);
        } else {
            p = readword(t, p, slot, place);
            if (MacroTop >= 0) {
                if (t.body == nullptr) LineAt = p;  // where to skip from if the expansion stops
                i = expandmacro(i, level);
            }
            i++;
        }
    }
}

int yomikomi(int start) {
    Pending = NothingBegun;
    StatementStarted = false;
    StatementLine = 0;
    StopInText = false;
    LineDropped = false;
    if (CommandWaiting) {
        CommandWaiting = false;
        return CommandRead;
    }
    try {
        return tokenize(Text{nullptr}, start, 0);
    } catch (const StatementStop& stop) {
        // A dropped line ends the statement's text: what it held of the
        // statement is gone with it, and the next line begins a new one.
        // So does a statement dropped at Ctrl-C, whose text may go on.
        StopInText = (stop.why == Stop::Reading && !LineDropped) ||
                     (stop.why == Stop::Dropped && DroppedTail);
        throw;
    } catch (const CommandTyped& typed) {
        if (typed.continuation && StatementLine != 0)
            diagf("%lld: the unfinished statement is dropped for the command",
                  static_cast<long long>(StatementLine));
        else if (typed.continuation)
            diagf("the unfinished statement is dropped for the command");
        return CommandRead;
    }
}

void skipstatement() {
    skipdroppedline();
    if (!StopInText) return;
    StopInText = false;
    Text t{nullptr};
    long p = LineAt;
    try {
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
    } catch (const CommandTyped&) {  // the rest is dropped for the command
        CommandWaiting = true;
    }
}
