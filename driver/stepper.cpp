// Stepping at the terminal (--step): before each step of an expression
// statement's reduction, the terminal shows the step just made (its number,
// its rule, its node) and the whole term as it now stands, cut to the
// screen, and waits for a line:
//   Enter     one step
//   a number  that many steps
//   c         on to the end of the statement, without stopping
//   q         stop the statement, as Ctrl-C does ("normal;" reduces on)
// Everything the stepper shows and reads goes through the terminal itself
// (standard input when it is one, else /dev/tty), never the transcript, so
// the transcript is the same as without stepping, wherever it is sent; the
// transcript so far is flushed before each wait, so that on a screen the
// statement's lines come before its steps.  Without a terminal --step says so
// once and the run goes on without stepping.
#include "driver/driver.h"

#include "reduce/reduce.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

// The longest answer read at the step prompt; the rest of a longer line is
// read and dropped.
constexpr std::size_t AnswerLimit = 64;

static int Tty = -1;                // the terminal, open while --step can step
static std::uint64_t PauseAt = 0;   // the step after which the stepper next waits; 0: not in this statement
static bool Explained = false;      // the keys have been explained once in this run

static void show(const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = write(Tty, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= std::size_t(n);
    }
}

void stepperstart() {
    if (Tty >= 0) close(Tty);
    Tty = -1;
    PauseAt = 0;
    Explained = false;
    if (!Options.step) return;
    // Standard input when it is the terminal (the program comes from a file,
    // or is typed); else the process's own terminal, behind a pipe.
    Tty = isatty(STDIN_FILENO) ? fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0) : open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (Tty < 0) diagf("--step: no terminal to step at; the run goes on without stepping");
}

bool stepperon() { return Tty >= 0; }

// The characters of the screen the term may fill: all but four of its lines.
static std::size_t screenroom() {
    winsize w{};
    if (ioctl(Tty, TIOCGWINSZ, &w) != 0 || w.ws_col == 0 || w.ws_row < 8) return 80 * 20;
    return std::size_t(w.ws_col) * (w.ws_row - 4);
}

// One line typed at the prompt, without its line end; false at the end of
// the terminal's input or when Ctrl-C came while it waited.
static bool answer(std::string& line) {
    line.clear();
    for (;;) {
        char c;
        ssize_t n = read(Tty, &c, 1);
        if (n < 0 && errno == EINTR && !interruptpending()) continue;
        if (n <= 0) return false;
        if (c == '\n') return true;
        if (line.size() < AnswerLimit) line += c;
    }
}

// Shows where the statement stands after step k (0: before the first) and
// waits for what to do next.
static void pause(std::uint64_t step, int rule, Ref n) {
    outflush();
    char head[96];
    if (step == 0)
        std::snprintf(head, sizeof head, "-- step 0: before the first step\n");
    else
        std::snprintf(head, sizeof head, "-- step %llu: %s co%u\n", static_cast<unsigned long long>(step),
                      rulename(rule).c_str(), n);
    std::string text = head + termtext(CurrentRoot, screenroom()) + "\n";
    if (!Explained) {
        text += "   (Enter: one step, a number: that many, c: to the end, q: stop the statement)\n";
        Explained = true;
    }
    for (;;) {
        show(text + "step> ");
        text.clear();
        std::string line;
        if (!answer(line)) {
            if (interruptpending()) return;  // Ctrl-C: the reducer's own check stops the statement
            show("\n");               // the terminal's input ended: no more stepping in this run
            close(Tty);
            Tty = -1;
            PauseAt = 0;
            return;
        }
        std::size_t first = line.find_first_not_of(" \t\r");
        std::string word = first == std::string::npos ? "" : line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
        if (word.empty()) {
            PauseAt = step + 1;
            return;
        }
        if (word == "c") {
            PauseAt = 0;
            return;
        }
        if (word == "q") stopstatement(Stop::Interrupt);
        char* end = nullptr;
        errno = 0;
        unsigned long long count = std::strtoull(word.c_str(), &end, 10);
        if (word[0] >= '0' && word[0] <= '9' && *end == '\0' && errno == 0 && count > 0) {
            PauseAt = count > UINT64_MAX - step ? UINT64_MAX : step + count;
            return;
        }
        show("Enter, a number of steps, c or q\n");
    }
}

void stepperbegin() {
    if (Tty < 0) return;
    PauseAt = 0;
    pause(0, 0, NoNode);
}

bool stepperstep(std::uint64_t step, int rule, Ref n) {
    if (Tty < 0 || PauseAt == 0) return false;
    if (step >= PauseAt) pause(step, rule, n);
    return Tty >= 0 && PauseAt != 0;
}
