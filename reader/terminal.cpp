// Lines typed at a terminal: a prompt for each, line editing, a history
// kept in ~/.kestrivo_history and Tab completion, through libedit's readline
// interface.
//
// The prompt and the editing go to the terminal: standard output when it is
// the terminal, else standard error, so a transcript redirected to a file
// holds no prompt.  The history file is read before the first line and
// rewritten after every line added, so a session that is killed keeps what
// was typed; without HOME there is no history file.
#include "reader/reader.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <editline/readline.h>

constexpr int HistoryLines = 1000;  // lines the history file keeps
static const char PromptNew[] = "kestrivo> ";
static const char PromptMore[] = "      > ";

static bool TerminalReady = false;  // libedit set up for this run
static std::string HistoryFile;     // empty: no history file
static bool HistoryFailed = false;  // the file could not be written once; said so
// The driver's words for completion and the line before the first prompt
// (terminalwords).
static const SessionWord* Words = nullptr;
static int WordCount = 0;
static const char* Greeting = nullptr;

void terminalwords(const SessionWord* words, int count, const char* greeting) {
    Words = words;
    WordCount = count;
    Greeting = greeting;
}

// The history file, opened without following a symbolic link put in its
// place (in a shared or hostile home folder a link could point the rewrite
// at any file the user owns): a descriptor, or -1 with errno set.
static int historyopen(int flags) {
    return open(HistoryFile.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// libedit reads and writes the history by file name; given the name of the
// descriptor historyopen opened, it reaches that file and no other.
static std::string historypath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Says once in the run that the history file cannot be kept, and why.
static void historyfailed(const char* reason) {
    if (HistoryFailed) return;
    HistoryFailed = true;
    diagf("cannot write the history file '%s': %s", HistoryFile.c_str(), reason);
}

// Rewrites the history file with the history as it now is.
static void historywrite() {
    int fd = historyopen(O_WRONLY | O_CREAT);
    if (fd < 0) {
        historyfailed(errno == ELOOP ? "it is a symbolic link" : std::strerror(errno));
        return;
    }
    int error = write_history(historypath(fd).c_str());  // an errno value, or 0
    if (error != 0) historyfailed(std::strerror(error));
    close(fd);
}

// The process's own transcript is a stream of its own over standard output
// (run/run.h), without a descriptor libedit could use: the prompt then goes
// to the C library's stdout, the same terminal.  The transcript is flushed
// before every line is read, so the two never cross.
std::FILE* terminalout() {
    if (OutputFd < 0 || !isatty(OutputFd)) return stderr;
    return OutputFd == STDOUT_FILENO ? stdout : Output;
}

// ---- completion ----------------------------------------------------------
// Tab completes the word before the cursor.  At the start of a line that
// begins with ":", the session's commands; after such a command's word,
// what the command takes (a file name, on or off, a defined name or macro,
// a term); anywhere else, a term's words: the defined names, the macros, the
// operators, true and false, and the command words.

static std::vector<std::string> Candidates;  // the matches of the word being completed
static std::size_t CandidateAt = 0;          // the next one to hand to libedit

static void offer(const char* word) { Candidates.emplace_back(word); }

static void offernames(bool operators) {
    for (std::int32_t i = 0; i <= AtomTop; i++)
        if (node(AtomNode[i]).kind == DEFINITION) offer(AtomName[i]);
    for (std::int32_t i = 0; i <= MacroTop; i++) offer(MacroTable[i].name);
    if (!operators) return;
    for (const char* name : OperatorTable) offer(name);
    offer("true");
    offer("false");
}

// libedit's generator: the candidates that begin with text, one a call,
// each in memory libedit frees.
static char* nextcandidate(const char* text, int state) {
    if (state == 0) CandidateAt = 0;
    std::size_t length = std::strlen(text);
    while (CandidateAt < Candidates.size()) {
        const std::string& c = Candidates[CandidateAt++];
        if (c.compare(0, length, text) == 0) return strdup(c.c_str());
    }
    return nullptr;
}

static char** complete(const char* text, int start, int) {
    Candidates.clear();
    rl_attempted_completion_over = 1;  // no file names unless asked for below
    const char* line = rl_line_buffer;
    int first = 0;
    while (line[first] == ' ' || line[first] == '\t') first++;
    if (line[first] != ':') {
        offernames(true);
        for (int i = 0; i < WordCount; i++)
            if (Words[i].word[0] != ':') offer(Words[i].word);
    } else if (start <= first) {
        for (int i = 0; i < WordCount; i++)
            if (Words[i].word[0] == ':') offer(Words[i].word);
    } else {
        int end = first;
        while (line[end] != '\0' && line[end] != ' ' && line[end] != '\t') end++;
        std::string command(line + first, std::size_t(end - first));
        Takes takes = Takes::Nothing;
        for (int i = 0; i < WordCount; i++)
            if (command == Words[i].word) takes = Words[i].takes;
        switch (takes) {
        case Takes::File:
            rl_attempted_completion_over = 0;  // libedit's own file names
            return nullptr;
        case Takes::Switch:
            offer("on");
            offer("off");
            break;
        case Takes::Name:
            offernames(false);
            break;
        case Takes::Term:
            offernames(true);
            break;
        case Takes::Nothing:
            break;
        }
    }
    if (Candidates.empty()) return nullptr;
    return rl_completion_matches(text, nextcandidate);
}

// Sets libedit up on its first use in a run.  libedit takes the streams
// when it starts itself, at the first line read in the process.
static void terminalstart(std::FILE* in) {
    rl_instream = in;
    rl_outstream = terminalout();
    rl_readline_name = "kestrivo";
    rl_attempted_completion_function = complete;
    // A word ends where the language ends one, but for the signs, which
    // begin a word of their own ("+r"): a word is completed whole.
    static char breaks[] = " \t()[]{};%";
    rl_completer_word_break_characters = breaks;
    rl_basic_word_break_characters = breaks;
    const char* home = std::getenv("HOME");
    HistoryFile.clear();
    HistoryFailed = false;
    if (home != nullptr && *home != '\0') {
        HistoryFile = std::string(home) + "/.kestrivo_history";
    }
    stifle_history(HistoryLines);
    if (!HistoryFile.empty()) {
        int fd = historyopen(O_RDONLY);
        if (fd >= 0) {
            read_history(historypath(fd).c_str());
            close(fd);
        } else if (errno == ELOOP) {  // none yet is no fault; a link is
            historyfailed("it is a symbolic link");
        }
    }
    TerminalReady = true;
    if (Greeting != nullptr) {
        std::fputs(Greeting, rl_outstream);
        std::fflush(rl_outstream);
    }
}

// A line worth keeping in the history: anything but blanks.
static bool worthkeeping(const char* line) {
    for (; *line; line++)
        if (*line != ' ' && *line != '\t') return true;
    return false;
}

Typed terminalread(std::FILE* in, bool continuation, TextBuffer& line) {
    if (!TerminalReady) terminalstart(in);
    char* typed = readline(continuation ? PromptMore : PromptNew);
    if (typed == nullptr) {  // Ctrl-D: the end of this input
        std::fputc('\n', rl_outstream);
        std::fflush(rl_outstream);
        return Typed::End;
    }
    line.length = 0;
    for (const char* c = typed; *c != '\0'; c++) {
        if (!textpush(line, *c)) {
            std::free(typed);
            return Typed::TooLong;
        }
    }
    if (worthkeeping(typed)) {
        add_history(typed);
        if (!HistoryFile.empty()) historywrite();
    }
    std::free(typed);
    return Typed::Line;
}

void terminalrelease() {
    if (!TerminalReady) return;
    clear_history();
    TerminalReady = false;
}
