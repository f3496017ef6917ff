// The command line, read once into one record before anything runs.
// getopt_long does the GNU conventions (long options, "--opt=value", "--"
// ending the options, abbreviations); the leading "+" keeps it from
// reordering argv, so options end at the first positional argument.
#include "driver/driver.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef KESTRIVO_VERSION
#define KESTRIVO_VERSION "1.0.0"
#endif

CommandLine Options;

static const char Usage[] =
    "Usage: kestrivo [OPTION]... [FILE [LASTBLOCK [TOKENCAPACITY]]]\n"
    "Run a program of the lambda-calculus language, echoing every line and\n"
    "printing for each expression its term, its expansion, its normal form and\n"
    "the nodes its reduction built.\n"
    "\n"
    "  FILE            the program text; without it or with -, standard input\n"
    "  LASTBLOCK       highest block number of the node pool: LASTBLOCK+1 blocks\n"
    "                  of 1001 nodes (default 5)\n"
    "  TOKENCAPACITY   token slots, the most tokens one statement may hold\n"
    "                  (default 1000)\n"
    "\n"
    "Options:\n"
    "  -h, --help          print this help and exit\n"
    "      --version       print the version and exit\n"
    "  -l, --load FILE     read FILE before the program text (repeatable)\n"
    "  -i, --interactive   after FILE, go on reading from the terminal\n"
    "      --echo          echo every input line into the transcript\n"
    "      --no-echo       do not echo input lines\n"
    "      --stats         after each expression a line of figures on standard\n"
    "                      error (nodes built, steps, beta and operator steps,\n"
    "                      collections, nodes freed, pool high-water mark, time),\n"
    "                      and their total when the run ends\n"
    "      --quiet-gc      do not print the collection reports\n"
    "      --gc-reports    at a terminal, every collection report (by default one\n"
    "                      line a statement sums them up)\n"
    "      --trace[=N]     every rewrite on standard error: its rule, its node and\n"
    "                      the node's term; at most N lines a statement (default\n"
    "                      10000), then how many were not shown\n"
    "      --dot=DIR       write each expression's graphs as DOT files in DIR\n"
    "      --readback      print normal forms in full, as plain lambda terms: each\n"
    "                      closure read back and reduced on under its lambda\n"
    "      --readback-steps=N  the read-back's own budget of reduction steps a\n"
    "                      statement (default 1000000; implies --readback); past\n"
    "                      it what is not in normal form prints as ...\n"
    "      --max-steps=N   stop a statement that takes more than N reduction steps;\n"
    "                      its term so far is printed, and 'normal;' reduces it on\n"
    "      --keep-going    the pool exhausted, nesting too deep, a word too long,\n"
    "                      the token array or the atom table full: the report ends\n"
    "                      only the statement, not the run; and --deep-marking\n"
    "      --deep-marking  a path deeper than the collector's mark stack is marked\n"
    "                      without it instead of ending the run (pools of 12\n"
    "                      blocks or more; on at a terminal)\n"
    "      --warn          warnings about the program on standard error\n"
    "      --latex=FILE    each expression as LaTeX in FILE: its term as read, as\n"
    "                      expanded and its normal form, and with --dot its graph\n"
    "                      (as TikZ, once dot2tex has turned the DOT files into TeX);\n"
    "                      with --frames its reduction step by step\n"
    "      --events=FILE   every event of the run as a line of JSON in FILE (- for\n"
    "                      standard error): each statement, each transcript line\n"
    "                      with its part, warnings, stops, figures, the end\n"
    "      --profile       after each expression, and at the end, a table on\n"
    "                      standard error: the steps, beta and operator steps and\n"
    "                      nodes built charged to each definition\n"
    "      --strategies[=N]  after each expression a line on standard error: its\n"
    "                      beta and operator steps by call by need, beside those\n"
    "                      of call by name, call by value and normal order, each\n"
    "                      reduced again within N steps (default 1000000)\n"
    "      --frames=DIR    the graph after every step of each expression as a DOT\n"
    "                      file in DIR, and a JSON Lines file a statement with\n"
    "                      each step's trace line and whole term\n"
    "      --frames-max=N  frames drawn a statement (default 1000); the steps\n"
    "                      past them are counted on standard error\n"
    "      --frames-from=K the first step drawn (default 1)\n"
    "      --frames-for=NAME  frames of the one statement NAME only (line12,\n"
    "                      line12.2, load1-line3: the names --dot gives)\n"
    "      --step          at a terminal, wait before each step of an expression:\n"
    "                      Enter makes one step, a number that many, c runs to\n"
    "                      the end, q stops the statement as Ctrl-C does\n"
    "      --steer-interrupts  every Ctrl-C stops only the statement, as at a\n"
    "                      terminal, even reading a file or a pipe (for a program\n"
    "                      that drives kestrivo, such as the notebook kernel)\n"
    "\n"
    "Ctrl-C stops the statement being reduced as --max-steps does, or drops the\n"
    "statement being typed; the run goes on.  Reading a file or a pipe, a second\n"
    "Ctrl-C ends the run (status 3), unless --steer-interrupts.\n"
    "\n"
    "At a terminal, a line that begins with ':' is a command to the session:\n"
    ":help lists them all; :load FILE and :reload, :defs and :show NAME, :kind TERM,\n"
    ":stats, :trace, :readback, :warn and :gc with on or off, :quit.  Tab completes\n"
    "names and commands, and a line end ends a word.\n"
    "\n"
    "Exit status: 0 at the end of the program, 1 when start-up fails, the\n"
    "collector's stack overflows or the output cannot be written, 2 for a\n"
    "command line that cannot be used, 3 at the end of a program in which a\n"
    "statement was stopped (--max-steps, Ctrl-C, --keep-going) or after a\n"
    "second Ctrl-C.\n";

enum LongOnly {
    OptVersion = 256, OptEcho, OptNoEcho, OptStats, OptQuietGc, OptTrace, OptDot,
    OptReadback, OptMaxSteps, OptKeepGoing, OptWarn, OptEvents, OptLatex, OptStrategies, OptProfile,
    OptDeepMarking, OptGcReports, OptFrames, OptFramesMax, OptFramesFrom, OptFramesFor, OptStep,
    OptSteerInterrupts, OptReadbackSteps
};

static const option LongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, OptVersion},
    {"load", required_argument, nullptr, 'l'},
    {"interactive", no_argument, nullptr, 'i'},
    {"echo", no_argument, nullptr, OptEcho},
    {"no-echo", no_argument, nullptr, OptNoEcho},
    {"stats", no_argument, nullptr, OptStats},
    {"quiet-gc", no_argument, nullptr, OptQuietGc},
    {"trace", optional_argument, nullptr, OptTrace},
    {"dot", required_argument, nullptr, OptDot},
    {"readback", no_argument, nullptr, OptReadback},
    {"readback-steps", required_argument, nullptr, OptReadbackSteps},
    {"max-steps", required_argument, nullptr, OptMaxSteps},
    {"keep-going", no_argument, nullptr, OptKeepGoing},
    {"deep-marking", no_argument, nullptr, OptDeepMarking},
    {"gc-reports", no_argument, nullptr, OptGcReports},
    {"warn", no_argument, nullptr, OptWarn},
    {"events", required_argument, nullptr, OptEvents},
    {"latex", required_argument, nullptr, OptLatex},
    {"strategies", optional_argument, nullptr, OptStrategies},
    {"profile", no_argument, nullptr, OptProfile},
    {"frames", required_argument, nullptr, OptFrames},
    {"frames-max", required_argument, nullptr, OptFramesMax},
    {"frames-from", required_argument, nullptr, OptFramesFrom},
    {"frames-for", required_argument, nullptr, OptFramesFor},
    {"step", no_argument, nullptr, OptStep},
    {"steer-interrupts", no_argument, nullptr, OptSteerInterrupts},
    {nullptr, 0, nullptr, 0},
};

// A count as atoi reads it (leading blanks, a sign, digits up to the first
// other character, none giving 0), but saturating instead of overflowing.
// clean says whether the text was a number and nothing else.
static std::int32_t readcount(const char* text, bool* clean) {
    const char* start = text;
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) text++;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') text++;
    const char* digits = text;
    std::int64_t v = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        v = v * 10 + (*text - '0');
        if (v > std::int64_t(INT_MAX) + 1) v = std::int64_t(INT_MAX) + 1;
    }
    *clean = text != digits && *text == '\0' && text != start;
    if (negative) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    return std::int32_t(v);
}

// A whole number for an option: digits only, within [least, most].
static bool readoption(const char* text, std::uint64_t least, std::uint64_t most, std::uint64_t* value) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < least || v > most) return false;
    *value = v;
    return true;
}

// The largest --frames-max and --frames-from: a window that ends before 2^62
// steps, so the last step drawn is a sum that cannot wrap.
constexpr std::uint64_t MaxFrameStep = std::uint64_t(1) << 61;

static int usageerror() {
    std::fputs("Try 'kestrivo --help' for more information.\n", Diagnostics);
    return 2;
}

// A folder for --dot and --frames: made when missing, and one this process may write in.
// False with errno saying why not: what stat, mkdir or access said, or
// ENOTDIR for something that is there and is no folder.
static bool writablefolder(const char* dir) {
    struct stat st;
    if (stat(dir, &st) != 0 && (errno != ENOENT || mkdir(dir, 0777) != 0 || stat(dir, &st) != 0))
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return access(dir, W_OK | X_OK) == 0;
}

int readcommandline(int argc, const char* const* argv, CommandLine& line) {
    line = CommandLine{};
    char** args = const_cast<char**>(argv);  // "+" mode: getopt_long does not reorder
    opterr = 0;
    optind = 0;  // start afresh: one process may read many command lines
    int c, index = -1;
    while ((c = getopt_long(argc, args, "+hl:i", LongOptions, &index)) != -1) {
        std::uint64_t value = 0;
        switch (c) {
        case 'h':
            std::fputs(Usage, Output);
            return 0;
        case OptVersion:
            std::fputs("kestrivo " KESTRIVO_VERSION "\n", Output);
            return 0;
        case 'l':
            if (line.loadcount == MaxLoads) {
                diagf("at most %d files can be loaded", MaxLoads);
                return usageerror();
            }
            line.loads[line.loadcount++] = optarg;
            break;
        case 'i': line.interactive = true; break;
        case OptEcho: line.echo = 1; break;
        case OptNoEcho: line.echo = 0; break;
        case OptStats: line.stats = true; break;
        case OptQuietGc: line.quietgc = true; break;
        case OptTrace:
            if (optarg == nullptr) {
                line.trace = DefaultTraceLines;
            } else if (readoption(optarg, 0, INT64_MAX, &value)) {
                line.trace = std::int64_t(value);
            } else {
                diagf("invalid value for --trace: '%s' (a whole number, 0 or more)", optarg);
                return usageerror();
            }
            break;
        case OptDot:
            if (!writablefolder(optarg)) {
                diagf("cannot write DOT files in '%s': %s", optarg, std::strerror(errno));
                return usageerror();
            }
            line.dotdir = optarg;
            break;
        case OptReadback: line.readback = true; break;
        case OptReadbackSteps:
            if (!readoption(optarg, 1, UINT64_MAX, &value)) {
                diagf("invalid value for --readback-steps: '%s' (a whole number, 1 or more)", optarg);
                return usageerror();
            }
            line.readback = true;
            line.readbacksteps = value;
            break;
        case OptMaxSteps:
            if (!readoption(optarg, 1, UINT64_MAX, &value)) {
                diagf("invalid value for --max-steps: '%s' (a whole number, 1 or more)", optarg);
                return usageerror();
            }
            line.maxsteps = value;
            break;
        case OptKeepGoing: line.keepgoing = true; break;
        case OptDeepMarking: line.deepmarking = true; break;
        case OptGcReports: line.gcreports = true; break;
        case OptWarn: line.warn = true; break;
        case OptEvents: line.events = optarg; break;
        case OptLatex:
            if (!latexwritable(optarg)) {
                diagf("cannot write LaTeX to '%s': %s", optarg, std::strerror(errno ? errno : EACCES));
                return usageerror();
            }
            line.latex = optarg;
            break;
        case OptProfile: line.profile = true; break;
        case OptSteerInterrupts: line.steerinterrupts = true; break;
        case OptStrategies:
            if (optarg == nullptr) {
                line.strategies = DefaultStrategySteps;
            } else if (readoption(optarg, 1, UINT64_MAX, &value)) {
                line.strategies = value;
            } else {
                diagf("invalid value for --strategies: '%s' (a whole number, 1 or more)", optarg);
                return usageerror();
            }
            break;
        case OptFrames:
            if (!writablefolder(optarg)) {
                diagf("cannot write frames in '%s': %s", optarg, std::strerror(errno ? errno : EACCES));
                return usageerror();
            }
            line.framesdir = optarg;
            break;
        case OptFramesMax:
        case OptFramesFrom:
            if (!readoption(optarg, 1, MaxFrameStep, &value)) {
                diagf("invalid value for --%s: '%s' (a whole number, 1 to %llu)", LongOptions[index].name, optarg,
                      static_cast<unsigned long long>(MaxFrameStep));
                return usageerror();
            }
            (c == OptFramesMax ? line.framesmax : line.framesfrom) = value;
            break;
        case OptFramesFor: line.framesfor = optarg; break;
        case OptStep: line.step = true; break;
        case ':':
            diagf("option '%s' needs a value", argv[optind - 1]);
            return usageerror();
        default:  // '?'
            if (optopt != 0 && optopt < 256)
                diagf("invalid option -- '%c'", optopt);
            else
                diagf("unrecognized option '%s'", argv[optind - 1]);
            return usageerror();
        }
    }
    // The positional arguments mean what they always have; a count that is
    // not a number still reads as atoi reads it, with a word on standard error.
    int at = optind;
    if (at < argc) line.file = argv[at++];
    const char* names[2] = {"LASTBLOCK", "TOKENCAPACITY"};
    std::int32_t* counts[2] = {&line.lastblock, &line.tokens};
    for (int k = 0; k < 2 && at < argc; k++, at++) {
        bool clean;
        *counts[k] = readcount(argv[at], &clean);
        if (!clean) diagf("%s '%s' is not a number; read as %d", names[k], argv[at], int(*counts[k]));
    }
    if (at < argc) diagf("extra arguments ignored, from '%s'", argv[at]);
    // Opened last, when nothing else can refuse the command line.
    if (line.events != nullptr && !eventsopen(line.events)) {
        diagf("cannot write events to '%s': %s", line.events, std::strerror(errno));
        return usageerror();
    }
    return -1;
}

void eventstart() {
    if (!EventsOn) return;
    const char* sources[MaxLoads + 2];
    int count = 0;
    for (int i = 0; i < Options.loadcount; i++) sources[count++] = Options.loads[i];
    sources[count++] = Options.file != nullptr ? Options.file : "-";
    if (Options.interactive && Options.file != nullptr && std::strcmp(Options.file, "-") != 0)
        sources[count++] = "-";
    eventwrite("start", {{"schema", EventSchema},
                         {"version", KESTRIVO_VERSION},
                         {"sources", sources, count},
                         {"blocks", std::int64_t(Options.lastblock) + 1},
                         {"nodes", PoolSize},
                         {"tokens", Options.tokens},
                         {"stats", Options.stats},
                         {"quiet_gc", Options.quietgc},
                         {"trace", Options.trace},
                         {"max_steps", Options.maxsteps},
                         {"keep_going", Options.keepgoing},
                         {"warn", Options.warn},
                         {"readback", Options.readback},
                         {"dot", Options.dotdir},
                         {"echo", Options.echo < 0 ? "auto" : Options.echo == 1 ? "on" : "off"},
                         {"strategies", Options.strategies},
                         {"profile", Options.profile},
                         {"frames", Options.framesdir},
                         {"step", Options.step},
                         {"steer_interrupts", Options.steerinterrupts}});
}
