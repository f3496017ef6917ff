// The text of a document: its lines, the protocol's columns, and the words
// in it as the reader cuts them.
#include "lsp/lsp.h"

bool Utf16 = true;

Page textof(std::string text) {
    Page t{std::move(text), {0}};
    for (std::size_t k = 0; k < t.text.size(); k++) {
        if (t.text[k] == '\r' && k + 1 < t.text.size() && t.text[k + 1] == '\n') k++;
        if (t.text[k] == '\n' || t.text[k] == '\r') t.starts.push_back(k + 1);
    }
    return t;
}

std::string lineof(const Page& t, std::int64_t line) {
    if (line < 0 || std::size_t(line) >= t.starts.size()) return "";
    std::size_t from = t.starts[std::size_t(line)];
    std::size_t to = std::size_t(line) + 1 < t.starts.size() ? t.starts[std::size_t(line) + 1] : t.text.size();
    while (to > from && (t.text[to - 1] == '\n' || t.text[to - 1] == '\r')) to--;
    return t.text.substr(from, to - from);
}

static bool continues(unsigned char c) { return (c & 0xC0) == 0x80; }

std::int64_t characters(const std::string& s) {
    std::int64_t n = 0;
    for (unsigned char c : s) n += !continues(c);
    return n;
}

// The bytes of the character that begins at k (1 for a stray byte).
static std::size_t charbytes(const std::string& s, std::size_t k) {
    unsigned char c = static_cast<unsigned char>(s[k]);
    std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    std::size_t got = 1;
    while (got < n && k + got < s.size() && continues(static_cast<unsigned char>(s[k + got]))) got++;
    return got;
}

std::int64_t tocolumn(const std::string& line, std::int64_t chars) {
    if (!Utf16) return chars;
    std::int64_t column = 0, c = 0;
    for (std::size_t k = 0; c < chars && k < line.size(); c++) {
        std::size_t n = charbytes(line, k);
        column += n == 4 ? 2 : 1;  // beyond the first plane: a surrogate pair
        k += n;
    }
    return column + (chars - c);  // past the line's end, one a character
}

std::int64_t fromcolumn(const std::string& line, std::int64_t column) {
    if (!Utf16) return column;
    std::int64_t chars = 0, units = 0;
    std::size_t k = 0;
    while (units < column && k < line.size()) {
        std::size_t n = charbytes(line, k);
        units += n == 4 ? 2 : 1;
        k += n;
        chars++;
    }
    return chars + (column > units ? column - units : 0);
}

// The reader's word ends: blanks, brackets, ";" and "%"; and "*", "+", "-",
// which end a word but also begin one ("x+y" is x and +y).
static bool ends(char c) {
    return c == ' ' || c == '\t' || c == '(' || c == ')' || c == '[' || c == ']' || c == '{' ||
           c == '}' || c == ';' || c == '%';
}
static bool begins(char c) { return c == '*' || c == '+' || c == '-'; }

Word wordat(const std::string& line, std::int64_t chars) {
    // The characters of the line, as byte offsets.
    std::vector<std::size_t> at;
    for (std::size_t k = 0; k < line.size(); k += charbytes(line, k)) at.push_back(k);
    Word w;
    std::int64_t n = std::int64_t(at.size());
    if (chars > n) chars = n;
    auto ch = [&](std::int64_t c) { return line[at[std::size_t(c)]]; };
    // The cursor may stand just after the word.
    std::int64_t c = chars;
    if (c == n || ends(ch(c))) {
        if (c == 0 || ends(ch(c - 1))) return w;
        c--;
    }
    std::int64_t first = c, end = c + 1;
    while (first > 0 && !ends(ch(first - 1)) && !begins(ch(first))) first--;
    while (end < n && !ends(ch(end)) && !begins(ch(end))) end++;
    std::size_t from = at[std::size_t(first)];
    std::size_t to = end < n ? at[std::size_t(end)] : line.size();
    w.text = line.substr(from, to - from);
    w.first = first;
    w.end = end;
    return w;
}

Word tokenat(const std::string& line, std::int64_t chars) {
    std::size_t k = 0;
    for (std::int64_t c = 0; c < chars && k < line.size(); c++) k += charbytes(line, k);
    if (k >= line.size()) return Word{};
    char c = line[k];
    if (c == ' ' || c == '\t') return Word{};
    if (ends(c)) return Word{std::string(1, c), chars, chars + 1};
    return wordat(line, chars);
}

json range(const Page& t, std::int64_t line, std::int64_t first, std::int64_t end) {
    return range(t, line, first, line, end);
}

json range(const Page& t, std::int64_t line, std::int64_t first, std::int64_t endline, std::int64_t end) {
    return {{"start", {{"line", line}, {"character", tocolumn(lineof(t, line), first)}}},
            {"end", {{"line", endline}, {"character", tocolumn(lineof(t, endline), end)}}}};
}
