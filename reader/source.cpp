// The program text as the event stream tells it: each statement's own text
// and where it begins and ends, and how much input has been read when the
// reader is about to wait for more.  Only with the events on: the lines are
// kept from the one where the last statement ended, which may hold the
// start of the next, so a statement's text is at hand when it has been read.
#include "reader/internal.h"

#include <string>
#include <vector>

// A line read since the last statement ended, without its line feed.
struct KeptLine {
    std::string text;
    std::int64_t number;  // the line in its source
    std::int32_t source;  // the source's index in Inputs
    std::uint64_t serial; // lines read before it, of every source
};
static std::vector<KeptLine> Lines;
static std::uint64_t LinesKept = 0;  // lines read, of every source
static std::uint64_t BytesRead = 0;  // of every source, line feeds included

// Where the last count of characters stopped: CountedChars characters
// begin in the first CountedBytes bytes of line CountedLine.  Statements are
// read left to right, so a line holding many goes on counting from the last
// one's end instead of from its start.  A byte that continues a UTF-8
// sequence begins no character, as in the warnings' columns.
static std::uint64_t CountedLine = UINT64_MAX;  // the line's serial
static std::size_t CountedBytes = 0;
static std::int64_t CountedChars = 0;

static bool charstart(const KeptLine& line, std::size_t k) {
    return (static_cast<unsigned char>(line.text[k]) & 0xC0) != 0x80;
}

// The column, in characters from 1, of the byte at offset in the line.
static std::int64_t charcolumn(const KeptLine& line, std::size_t offset) {
    if (line.serial != CountedLine || offset < CountedBytes) {
        CountedLine = line.serial;
        CountedBytes = 0;
        CountedChars = 0;
    }
    for (; CountedBytes < offset && CountedBytes < line.text.size(); CountedBytes++)
        if (charstart(line, CountedBytes)) CountedChars++;
    return CountedChars + 1;
}

// The offset of the byte where the character at column (from 1) begins.
static std::size_t byteoffset(const KeptLine& line, std::int64_t column) {
    if (line.serial != CountedLine || CountedChars >= column) {
        CountedLine = line.serial;
        CountedBytes = 0;
        CountedChars = 0;
    }
    for (; CountedBytes < line.text.size(); CountedBytes++) {
        if (!charstart(line, CountedBytes)) continue;
        if (CountedChars == column - 1) break;
        CountedChars++;
    }
    return CountedBytes;
}

void sourcestart() {
    Lines.clear();
    LinesKept = BytesRead = 0;
    CountedLine = UINT64_MAX;
}

void sourceline(const char* data, std::size_t length, int source) {
    // Before a statement's first token, the lines before this one hold
    // nothing of it.
    if (StatementLine == 0) Lines.clear();
    Lines.push_back(KeptLine{std::string(data, length), LineNumber, std::int32_t(source), LinesKept++});
    BytesRead += length + 1;
}

void sourcewait() {
    eventwrite("wait", {{"bytes", BytesRead}, {"statement", StatementLine != 0}});
}

void eventstatement(const char* kind, const char* name) {
    std::string text;
    std::int64_t endline = 0, endcolumn = 0;
    // The first line: the one the statement's first token was read from.
    std::size_t first = 0;
    while (first < Lines.size() && (Lines[first].number != StatementPlace.line ||
                                    Lines[first].source != StatementPlace.source))
        first++;
    if (first < Lines.size()) {
        const KeptLine& last = Lines.back();
        std::size_t from = byteoffset(Lines[first], StatementPlace.column);
        std::size_t to = std::size_t(LineStart);  // just past the ";"
        endline = last.number;
        endcolumn = charcolumn(last, to > 0 ? to - 1 : 0);
        for (std::size_t k = first; k < Lines.size(); k++) {
            const std::string& line = Lines[k].text;
            std::size_t a = k == first ? from : 0;
            std::size_t b = k + 1 == Lines.size() ? to : line.size();
            if (a < b && b <= line.size()) text.append(line, a, b - a);
            if (k + 1 < Lines.size()) text += '\n';
        }
    }
    eventwrite("statement", {{"kind", kind},
                             {"name", name},
                             {"source", StatementPlace.source},
                             {"line", StatementPlace.line},
                             {"column", StatementPlace.column},
                             {"end_line", endline},
                             {"end_column", endcolumn},
                             {"text", text}});
}
