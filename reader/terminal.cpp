// Lines typed at a terminal: a prompt for each, line editing and a history
// kept in ~/.kestrivo_history, through libedit's readline interface.
//
// The prompt and the editing go to the terminal: standard output when it is
// the terminal, else standard error, so a transcript redirected to a file
// holds no prompt.  The history file is read before the first line and
// rewritten after every line added, so a session that is killed keeps what
// was typed; without HOME there is no history file.
#include "reader/reader.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include <editline/readline.h>

constexpr int HistoryLines = 1000;  // lines the history file keeps
static const char PromptNew[] = "kestrivo> ";
static const char PromptMore[] = "      > ";

static bool TerminalReady = false;  // libedit set up for this run
static std::string HistoryFile;     // empty: no history file
static bool HistoryFailed = false;  // the file could not be written once; said so

// Sets libedit up on its first use in a run.  libedit takes the streams
// when it starts itself, at the first line read in the process.
static void terminalstart(std::FILE* in) {
    rl_instream = in;
    rl_outstream = isatty(fileno(Output)) ? Output : stderr;
    rl_readline_name = "kestrivo";
    const char* home = std::getenv("HOME");
    HistoryFile.clear();
    HistoryFailed = false;
    if (home != nullptr && *home != '\0') {
        HistoryFile = std::string(home) + "/.kestrivo_history";
    }
    stifle_history(HistoryLines);
    if (!HistoryFile.empty()) read_history(HistoryFile.c_str());  // none yet is no fault
    TerminalReady = true;
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
        if (!HistoryFile.empty() && write_history(HistoryFile.c_str()) != 0 && !HistoryFailed) {
            HistoryFailed = true;
            diagf("cannot write the history file '%s'", HistoryFile.c_str());
        }
    }
    std::free(typed);
    return Typed::Line;
}

void terminalrelease() {
    if (!TerminalReady) return;
    clear_history();
    TerminalReady = false;
}
