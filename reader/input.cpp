// The reader's input: the sources a program is read from in turn, the line
// buffer every line is read into whole and echoed from, and the count of
// columns that places a token in its line.
#include "reader/internal.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

// The sources, in the order they are read.
struct InputSource {
    std::FILE* stream;
    bool close;  // a file the driver opened, closed when it is used up
};
static InputSource Inputs[InputCapacity];
static int InputCount = 0;  // sources listed
static int InputAt = 0;     // the source being read
std::FILE* InputStream = nullptr;
int EchoChoice = -1;
bool InputWaits = false;
static bool EchoInput = true;         // echo the current source's lines into the transcript
static bool InputIsTerminal = false;  // the source is a terminal: typed lines, prompts

// Files a command typed at the terminal asked to read now (inputload), each
// read whole, in order, before the source that was being read goes on.
constexpr int InterludeCapacity = 64;  // far more files than a session loads at once
static std::FILE* Interludes[InterludeCapacity];
static int InterludeCount = 0;     // files asked for
static int InterludeNext = 0;      // the next one to read
static bool InInterlude = false;   // InputStream is one of them
static std::int64_t PausedLine = 0;  // LineNumber of the source they interrupted

// The last command typed at the terminal, zero-ended (typedcommand).
static TextBuffer Command;

TextBuffer LineBuffer;
std::int64_t LineNumber = 0;
bool LineDropped = false;
bool DroppedTail = false;
// The dropped line's rest is still in the stream being read.
static bool DroppedRest = false;
// Ctrl-C cut a line short while a pipe delivered it: the piece read so far
// went to the tokenizer as a line of its own (its complete statements run),
// the statement it leaves unfinished is to be dropped when the tokenizer
// asks for more of it (PieceDrop), and the next read goes on with the same
// line of the source (LinePiece).
static bool PieceDrop = false;
static bool LinePiece = false;
long LineStart = 0;
std::int64_t LinesRead = 0;

// Columns count characters, not bytes.  Tokens are placed left to right, so
// the count goes on from the last token placed on the line instead of
// starting over.
static long CountedTo = 0;             // bytes of the line counted so far
static std::int32_t CountedChars = 0;  // characters among them

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

std::FILE* opentoread(const char* name, int& why) {
    std::FILE* f = std::fopen(name, "r");
    why = errno;
    struct stat st;
    if (f != nullptr && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(f);
        f = nullptr;
        why = EISDIR;
    }
    return f;
}

bool inputadd(std::FILE* stream, bool close) {
    if (InputCount == InputCapacity) return false;
    Inputs[InputCount++] = InputSource{stream, close};
    return true;
}

bool inputload(std::FILE* stream) {
    if (InterludeCount == InterludeCapacity) return false;
    Interludes[InterludeCount++] = stream;
    return true;
}

void inputrelease() {
    for (int i = 0; i < InputCount; i++)
        if (Inputs[i].close && Inputs[i].stream != nullptr) std::fclose(Inputs[i].stream);
    for (int i = InInterlude ? InterludeNext - 1 : InterludeNext; i < InterludeCount; i++)
        std::fclose(Interludes[i]);
    InterludeCount = InterludeNext = 0;
    InInterlude = false;
    InputCount = InputAt = 0;
    InputStream = nullptr;
    textrelease(Command);
}

// Makes stream the one being read.  A regular file is read at full speed
// with the output fully buffered; a pipe or a terminal may make the reader
// wait, so the output is flushed before every read from it and after every
// statement.  A stream without a descriptor (a test's memory stream) counts
// as a file.
static void streamselect(std::FILE* stream) {
    InputStream = stream;
    int fd = fileno(InputStream);
    struct stat st;
    InputIsTerminal = fd >= 0 && isatty(fd);
    InputWaits = fd >= 0 && fstat(fd, &st) == 0 && !S_ISREG(st.st_mode);
    InterruptEnds = !InputIsTerminal && !InterruptsSteer;
    // Typed lines are on the terminal already; a transcript going elsewhere
    // still gets them.
    EchoInput = EchoChoice >= 0 ? EchoChoice == 1
                                : !(InputIsTerminal && OutputFd >= 0 && isatty(OutputFd));
    LineNumber = 0;
}

// Makes source i of the list the one being read.
static void inputselect(int i) {
    InputAt = i;
    streamselect(Inputs[i].stream);
}

// After the source being read is used up: the next file a command asked
// for, or, after the last of them, the source they interrupted, at the line
// it had reached; else the next source of the list.  False when there is
// none left.
static bool nextsource() {
    if (InInterlude) {
        std::fclose(InputStream);
        if (InterludeNext < InterludeCount) {
            streamselect(Interludes[InterludeNext++]);
            return true;
        }
        InInterlude = false;
        InterludeCount = InterludeNext = 0;
        inputselect(InputAt);
        LineNumber = PausedLine;
        return true;
    }
    if (InputAt + 1 >= InputCount) return false;
    inputselect(InputAt + 1);
    return true;
}

// A typed line whose first character but blanks is ":".
static bool iscommand(const TextBuffer& line) {
    for (std::size_t i = 0; i < line.length; i++)
        if (line.data[i] != ' ' && line.data[i] != '\t') return line.data[i] == ':';
    return false;
}

// Hands a command line up to the statement cycle (CommandTyped, caught by
// yomikomi): the line is kept in Command and the line buffer emptied, so the
// next statement starts on the next line.
[[noreturn]] static void handup(bool continuation) {
    Command.length = 0;
    bool held = true;
    for (std::size_t i = 0; i < LineBuffer.length && held; i++) held = textpush(Command, LineBuffer.data[i]);
    if (!held || !textpush(Command, '\0')) Command.length = 0;  // memory refused: an empty command
    LineBuffer.length = 0;
    LineStart = 0;
    LineNumber++;
    LinesRead++;
    throw CommandTyped{continuation};
}

const char* typedcommand() { return Command.length > 0 ? Command.data : ""; }

bool inputstart() {
    LineBuffer.length = 0;
    if (LineBuffer.room < LineFirstRoom && !textgrow(LineBuffer)) return false;
    LineStart = 0;
    CountedTo = CountedChars = 0;
    LinesRead = 0;
    if (InputCount > 0) inputselect(0);
    return true;
}

// A line the buffer cannot hold: the line is dropped with its report and
// the statement stops.  rest says whether the line's rest is still to be
// read from the stream.  The buffer goes back to its first room, so that a
// run that goes on has the memory the line took.
[[noreturn]] static void linememory(bool rest) {
    LinePiece = PieceDrop = false;
    LineBuffer.length = 0;
    LineStart = 0;
    if (LineBuffer.room > LineFirstRoom) {
        void* data = std::realloc(LineBuffer.data, LineFirstRoom);
        if (data != nullptr) {
            LineBuffer.data = static_cast<char*>(data);
            LineBuffer.room = LineFirstRoom;
        }
    }
    LineDropped = true;
    DroppedRest = rest;
    outs("line is too long for memory in yomikomi\n");
    stopstatement(Stop::Reading);
}

void skipdroppedline() {
    if (!DroppedRest) return;
    DroppedRest = false;
    for (;;) {
        int c = getc_unlocked(InputStream);
        if (c == '\n') return;
        if (c != EOF) continue;
        if (!std::ferror(InputStream) || errno != EINTR) return;  // the end of the source
        std::clearerr(InputStream);  // a signal while the read waited: read on,
        interruptagain();            // unless it was a second Ctrl-C
    }
}

// Ctrl-C while the statement was being read: what was read of it is
// dropped, and from a pipe the rest of its text, still to come, is skipped
// through its ";" (at a terminal, line editing has given up the line).
[[noreturn]] static void dropstatement() {
    LineBuffer.length = 0;
    LineStart = 0;
    DroppedTail = !InputIsTerminal;
    stopstatement(Stop::Dropped);
}

__attribute__((noinline)) bool linereadmore(bool continuation) {
    outcheck();
    if (PieceDrop) {  // the tokenizer has run what the piece held
        PieceDrop = false;
        if (continuation) dropstatement();
    }
    bool piece = LinePiece;  // this read goes on with a line whose first piece was read
    LinePiece = false;
    DroppedTail = false;
    LineBuffer.length = 0;
    LineStart = 0;
    CountedTo = CountedChars = 0;
    int c = 0;
    bool any = false;
    if (!InInterlude && InterludeNext < InterludeCount) {  // a command asked for files
        PausedLine = LineNumber;
        InInterlude = true;
        streamselect(Interludes[InterludeNext++]);
    }
    for (;;) {
        if (InputWaits) {
            if (EventsOn) sourcewait();
            outflush();
        }
        if (InputIsTerminal) {
            Typed typed = terminalread(InputStream, continuation, LineBuffer);
            if (typed == Typed::TooLong) {
                LineNumber += !piece;
                linememory(false);
            }
            any = typed == Typed::Line;
            if (any && iscommand(LineBuffer)) handup(continuation);
        } else {
            while ((c = getc_unlocked(InputStream)) != EOF) {
                any = true;
                if (c == '\n') break;
                if (!textpush(LineBuffer, char(c))) {
                    LineNumber += !piece;
                    linememory(true);
                }
            }
        }
        // A signal came while the read waited (SIGINT's handler does not
        // restart reads, and line editing gives up its line): Ctrl-C drops
        // the statement being read, but for the complete statements a piece
        // of a line already holds, which run first; any other signal, read
        // on.
        bool cut = InputIsTerminal ? !any && interruptpending()
                                   : c == EOF && std::ferror(InputStream) && errno == EINTR;
        if (cut) {
            if (!InputIsTerminal) std::clearerr(InputStream);
            if (interruptpending()) {
                takeinterrupt();
                if (LineBuffer.length > 0) {
                    PieceDrop = LinePiece = true;
                    break;
                }
                if (continuation) dropstatement();
                diagf("interrupted: no statement was being read");
            }
            continue;
        }
        if (any || !nextsource()) break;
    }
    if (!any) return false;
    LineNumber += !piece;
    LinesRead++;
    if (EventsOn) sourceline(LineBuffer.data, LineBuffer.length, InputAt);
    if (EchoInput) {
        outpart(Part::Echo);
        std::fwrite(LineBuffer.data, 1, LineBuffer.length, Output);
        std::fputc('\n', Output);
    }
    // At a terminal a line end ends a word: a word typed at the end of a
    // line never runs on into the next one.
    if (InputIsTerminal && !textpush(LineBuffer, ' ')) linememory(false);
    return true;
}

void setline(const char* text) {
    LineBuffer.length = 0;
    LineStart = 0;
    for (; *text != '\0'; text++)
        if (!textpush(LineBuffer, *text)) linememory(false);
    CountedTo = CountedChars = 0;
}

Place placeof(long p) {
    long at = LineStart + p;
    if (at < CountedTo) CountedTo = CountedChars = 0;  // setline went back
    for (; CountedTo < at; CountedTo++)
        if ((static_cast<unsigned char>(LineBuffer.data[CountedTo]) & 0xC0) != 0x80) CountedChars++;
    return Place{LineNumber, std::int32_t(InputAt), CountedChars + 1};
}
