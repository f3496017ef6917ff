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

TextBuffer LineBuffer;
std::int64_t LineNumber = 0;
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
// the statement stops.
[[noreturn]] static void linememory() {
    LineBuffer.length = 0;
    LineStart = 0;
    outs("line is too long for memory in yomikomi\n");
    stopstatement(Stop::Reading);
}

__attribute__((noinline)) bool linereadmore(bool continuation) {
    outcheck();
    LineBuffer.length = 0;
    LineStart = 0;
    CountedTo = CountedChars = 0;
    int c = 0;
    bool any = false;
    for (;;) {
        if (InputWaits) outflush();
        if (InputIsTerminal) {
            Typed typed = terminalread(InputStream, continuation, LineBuffer);
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
    if (!any) return false;
    LineNumber++;
    LinesRead++;
    if (!EchoInput) return true;
    std::fwrite(LineBuffer.data, 1, LineBuffer.length, Output);
    std::fputc('\n', Output);
    return true;
}

void setline(const char* text) {
    LineBuffer.length = 0;
    LineStart = 0;
    for (; *text != '\0'; text++)
        if (!textpush(LineBuffer, *text)) linememory();
    CountedTo = CountedChars = 0;
}

Place placeof(long p) {
    long at = LineStart + p;
    if (at < CountedTo) CountedTo = CountedChars = 0;  // setline went back
    for (; CountedTo < at; CountedTo++)
        if ((static_cast<unsigned char>(LineBuffer.data[CountedTo]) & 0xC0) != 0x80) CountedChars++;
    return Place{LineNumber, std::int32_t(InputAt), CountedChars + 1};
}
