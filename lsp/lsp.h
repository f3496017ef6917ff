// The language server (kestrivo-lsp): the language-server protocol over
// standard input and output, for editors.  It stands above the driver: a
// document is analysed by running it through the interpreter itself, in
// this process (runkestrivo), with warnings on, every stop ending only its
// statement and a small budget of steps a statement, and by reading back the
// run's event stream.  Nothing is parsed twice: the statements, their places
// and texts, the warnings and the stops are the interpreter's own.
//
// What it offers: diagnostics as the user types (the warnings, the reader's
// stops, the stops of a reduction); hover over a defined name (its
// definition and, for a closed term, its normal form), over a macro, an
// operator, a command word; go to definition; the document's definitions
// and macros as symbols; completion of names, macros, operators and words.
//
// Bounds: a document's run gives each statement AnalysisSteps steps and a
// hover's normal form HoverSteps; a message may be at most MessageLimit
// bytes.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

using json = nlohmann::json;

// Steps a statement of the document may take when the document is analysed:
// enough for the examples' expressions (the largest takes about 30,000), few
// enough that a document of runaway expressions is analysed in a blink.
constexpr std::uint64_t AnalysisSteps = 100000;
// Steps the normal form shown by a hover may take.
constexpr std::uint64_t HoverSteps = 20000;
// The longest message read: a document of many megabytes is not a program
// anyone edits, and the limit keeps a broken header from asking for all of
// memory.
constexpr std::size_t MessageLimit = std::size_t(64) << 20;

// ---- the text of a document (text.cpp) -----------------------------------
// Lines as the protocol counts them (a line ends at "\n", "\r\n" or "\r"),
// columns in characters as the interpreter counts them (a byte that
// continues a UTF-8 sequence adds none), and the protocol's columns in the
// encoding the client asked for: UTF-16 code units (the default) or
// characters ("utf-32").
struct Page {
    std::string text;
    std::vector<std::size_t> starts;  // the byte where each line begins
};
Page textof(std::string text);
std::string lineof(const Page& t, std::int64_t line);  // 0-based; "" past the end
extern bool Utf16;  // the client counts columns in UTF-16 code units
// The characters of a text (a byte that continues a UTF-8 sequence adds none).
std::int64_t characters(const std::string& s);
// The protocol's column of the character column (0-based) in a line, and back.
std::int64_t tocolumn(const std::string& line, std::int64_t chars);
std::int64_t fromcolumn(const std::string& line, std::int64_t column);
// The word (as the reader cuts words) around a 0-based character column of
// a line: its first and last character columns, empty when there is none.
struct Word {
    std::string text;
    std::int64_t first = 0, end = 0;  // characters [first, end)
};
Word wordat(const std::string& line, std::int64_t chars);
// The token that begins at or holds a 0-based character column, as the
// reader reads it: a word, or a bracket on its own; empty on a blank.
Word tokenat(const std::string& line, std::int64_t chars);
// The protocol's range of characters [first, end) of a 0-based line.
json range(const Page& t, std::int64_t line, std::int64_t first, std::int64_t end);
// The protocol's range from character first of line to character end of
// endline (0-based lines).
json range(const Page& t, std::int64_t line, std::int64_t first, std::int64_t endline, std::int64_t end);

// ---- what the interpreter makes of a document (analysis.cpp) --------------
struct Statement {
    std::string kind;  // "expression", "definition", "macro", "command"
    std::string name;  // the name defined, the macro's, the command word
    std::int64_t line, column, endline, endcolumn;  // 1-based, characters
    std::string text;
};
struct Diagnostic {
    std::int64_t line, first, end;  // 0-based line, characters [first, end)
    int severity;                   // 1 error, 2 warning, 3 information
    std::string message;
    std::int64_t endline = -1;      // the 0-based line end counts in, when not line
};
struct Analysis {
    std::vector<Statement> statements;
    std::vector<Diagnostic> diagnostics;
};
// Runs the text through the interpreter and gathers what it says.
Analysis analyse(const Page& t);
// The normal form of name, defined by the statement at index definition of
// the analysis, as the read-back prints it, when the definition is closed
// and its normal form is reached within HoverSteps; else a sentence saying
// why not.
std::string normalform(const Page& t, const Analysis& a, std::size_t definition);

// ---- the words of the language (words.cpp) --------------------------------
// The operators with what they take and give, the command words and the
// constants, for hover and completion; null when word is none of them.
const char* describe(const std::string& word);
// Every operator, command word and constant, for completion.
std::vector<std::pair<std::string, int>> languagewords();  // the word and its completion kind

// ---- the protocol (server.cpp) --------------------------------------------
// Serves one client on standard input and output until it exits; returns
// the process's status (0 after shutdown and exit, 1 after exit alone or
// the end of the input).
int serve();
