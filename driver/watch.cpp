// Watching an expression statement: what --dot, --readback and --warn do at
// the three moments of an expression (parsed, expanded, normalized), and
// what --frames and --step do at each step between the last two.  Each
// step tests its switch once per statement; with none of the options a
// statement does no more than it always has, and nothing here prints into
// the transcript except the normal-form line it is asked to print.
#include "driver/driver.h"

#include "print/print.h"
#include "reader/reader.h"
#include "reduce/reduce.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

// The longest file name a picture gets: the folder, a source prefix, the
// line, a statement number and the stage; generous for any real folder.
constexpr std::size_t DotPathLimit = 4096;

// The most pictures a run writes: three for each of a thousand expressions,
// more than anyone looks through, and a bound on what one long line of short
// statements can put on the disk (16,000 statements would write 48,000).
constexpr int PictureLimit = 3000;
static int Pictures = 0;  // pictures this run has tried to write

// The statement being watched: its picture name, "line<L>" with the prefix
// of its source and ".<k>" for the k-th expression starting on that line.
static char PictureName[64];
static Place LastPictured{};  // where the last pictured expression began
static int SameLine = 0;      // expressions begun on that line so far

void watchstart() {
    WarnOn = Options.warn;
    KeepPlaces = Options.warn || Options.dotdir != nullptr || Options.framesdir != nullptr || EventsOn ||
                 Options.latex != nullptr;
    if (EventsOn) sourcestart();
    if (Options.latex != nullptr) latexstart();
    LastPictured = Place{};
    SameLine = 0;
    Pictures = 0;
    framesstart();
    stepperstart();
}

// The picture name of the expression whose first token was read at p:
// "line<L>" for the program, "load<K>-line<L>" for the K-th file loaded
// with -l, "stdin-line<L>" for the terminal read after the program; a second
// expression on the same line adds ".2", a third ".3", and so on.
static void namepicture(const Place& p) {
    if (p.line == LastPictured.line && p.source == LastPictured.source) SameLine++;
    else SameLine = 1;
    LastPictured = p;
    char prefix[24] = "";
    if (p.source < Options.loadcount) std::snprintf(prefix, sizeof prefix, "load%d-", p.source + 1);
    else if (p.source > Options.loadcount) std::snprintf(prefix, sizeof prefix, "stdin-");
    char count[16] = "";
    if (SameLine > 1) std::snprintf(count, sizeof count, ".%d", SameLine);
    std::snprintf(PictureName, sizeof PictureName, "%sline%lld%s", prefix,
                  static_cast<long long>(p.line), count);
}

// DIR/<picture name>-<stage>.dot.  A picture that cannot be written is
// reported on standard error, and a file it began is removed, so that no
// cut picture is left behind (a full disk); the run goes on and ends with
// status 1 (filelost).  After PictureLimit pictures no more are written,
// with one line saying so.
static void picture(Ref t, const char* stage) {
    if (Pictures == PictureLimit) {
        Pictures++;
        diagf("%d pictures is the most a run writes: no more are written", PictureLimit);
    }
    if (Pictures > PictureLimit) return;
    Pictures++;
    std::string path = std::string(Options.dotdir) + "/" + PictureName + "-" + stage + ".dot";
    if (path.size() > DotPathLimit) {
        diagf("cannot write '%s': the name is too long", path.c_str());
        filelost();
        return;
    }
    std::FILE* f = opennewfile(path.c_str());
    if (f == nullptr) return filenotwritten(path.c_str());
    std::string title = std::string(PictureName) + " " + stage;
    errno = 0;
    writedot(t, f, title.c_str());
    bool failed = std::fflush(f) != 0 || std::ferror(f);
    int error = errno;  // the failed write's reason, kept by the stream's later calls
    if (std::fclose(f) != 0 && !failed) {
        failed = true;
        error = errno;
    }
    if (failed) {
        unlink(path.c_str());
        if (error != 0) diagf("cannot write '%s': %s", path.c_str(), std::strerror(error));
        else diagf("cannot write '%s'", path.c_str());
        filelost();
        return;
    }
    if (EventsOn) eventwrite("picture", {{"stage", stage}, {"name", PictureName}, {"file", path}});
}

// A term as the transcript prints it (read back, when asked), as text
// without the blank after its last item, the transcript untouched: for the
// events and the LaTeX document.  A term too deep to print gives what was
// printed of it; memory refused gives "".
static std::string printed(Ref t, bool readback) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* to = open_memstream(&text, &size);
    if (to == nullptr) return "";
    {
        // Output is swapped for the print and put back however it ends.
        struct Swap {
            std::FILE* saved = Output;
            ~Swap() { Output = saved; }
        } swap;
        Output = to;
        try {
            if (readback) outs(readbackline(t).c_str());
            else printterm(t, false);
        } catch (const StatementStop&) {  // too deep: the transcript's line said so already
        }
    }
    std::fclose(to);
    std::string term(text, size);
    std::free(text);
    while (!term.empty() && term.back() == ' ') term.pop_back();
    return term;
}

// The texts of the expression under way, for the LaTeX document.
static std::string ParsedText, ExpandedText;

void watchparsed(Ref t) {
    if (WarnOn) checknames();
    if (Options.latex != nullptr) {
        ParsedText = printed(t, false);
        ExpandedText.clear();  // until this expression's expansion is done
        latexframesclear();
    }
    if (Options.dotdir == nullptr && Options.framesdir == nullptr) return;
    namepicture(StatementPlace);
    if (Options.dotdir != nullptr) picture(t, "parsed");
}

// The statement has frames drawn (framesbegin said so) until its window ends.
static bool Framing = false;

// The look at every step while the statement has frames or is stepped.
static void watchstep(std::uint64_t step, int rule, Ref n) {
    if (Framing) Framing = framestep(step, rule, n);
    bool stepping = stepperstep(step, rule, n);
    if (!Framing && !stepping) setsteplook(nullptr);  // the rest of the reduction runs at full speed
}

void watchreducing(bool resumed) {
    Framing = false;
    if (Options.framesdir != nullptr) {
        if (resumed) namepicture(StatementPlace);
        Framing = framesbegin(PictureName);
    }
    if (Framing || stepperon()) setsteplook(watchstep);
    stepperbegin();
}

void watchend() {
    if (StepLook != nullptr) setsteplook(nullptr);
    Framing = false;
    if (Options.framesdir != nullptr) framesend();
}

void watchexpanded(Ref t) {
    if (Options.latex != nullptr) ExpandedText = printed(t, false);
    if (Options.dotdir != nullptr) picture(t, "expanded");
}

void printnormal(Ref t) {
    DepthPhase = "printterm";
    if (Options.readback) {
        statsnormal();  // the statement's figures, before the read-back's work
        readbackforget();
        std::string line = readbackline(t);  // the read-back reduces on: its line is begun after
        outpart(Part::Normal);
        outs(line.c_str());
    } else {
        outpart(Part::Normal);
        printterm(t, false);
    }
    outs("\n");
}

void watchresult(Ref t) {
    if (EventsOn) eventwrite("result", {{"line", StatementPlace.line}, {"term", printed(t, false)}});
}

void watchnormal(Ref t) {
    watchresult(t);
    if (WarnOn) warnstuck(t, StatementPlace.line);
    if (Options.dotdir != nullptr) picture(t, "normal");
    if (Options.latex != nullptr) {
        latexexpression(Expression{StatementPlace.line, ParsedText, ExpandedText, printed(t, Options.readback),
                                   statementsteps(), newnodescount(),
                                   Options.dotdir != nullptr ? PictureName : nullptr});
        ParsedText.clear();
    }
}

void watchstopped(Stop why) {
    if (Options.latex == nullptr || ParsedText.empty()) return;  // no expression parsed
    const char* words = why == Stop::Limit       ? "stopped at the step limit"
                        : why == Stop::Interrupt ? "interrupted"
                        : why == Stop::Exhausted ? "the pool ran out"
                        : why == Stop::Depth     ? "nesting too deep"
                                                 : "stopped";
    // Steered to a stop between two rewrites, the term stands whole, as the
    // transcript has just printed it; any other stop may cut a rewrite short.
    std::string now = why == Stop::Limit || why == Stop::Interrupt ? printed(CurrentRoot, false) : "";
    latexexpression(Expression{StatementPlace.line, ParsedText, ExpandedText.empty() ? ParsedText : ExpandedText,
                               now, statementsteps(), newnodescount(), nullptr, words});
    ParsedText.clear();
}
