// Watching an expression statement: what --dot, --readback and --warn do at
// the three moments of an expression (parsed, expanded, normalized).  Each
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

// The longest file name a picture gets: the folder, a source prefix, the
// line, a statement number and the stage; generous for any real folder.
constexpr std::size_t DotPathLimit = 4096;

// The statement being watched: its picture name, "line<L>" with the prefix
// of its source and ".<k>" for the k-th expression starting on that line.
static char PictureName[64];
static Place LastPictured{};  // where the last pictured expression began
static int SameLine = 0;      // expressions begun on that line so far

void watchstart() {
    WarnOn = Options.warn;
    KeepPlaces = Options.warn || Options.dotdir != nullptr || EventsOn;
    if (EventsOn) sourcestart();
    LastPictured = Place{};
    SameLine = 0;
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

// DIR/<picture name>-<stage>.dot; a file that cannot be written is reported
// on standard error and the run goes on.
static void picture(Ref t, const char* stage) {
    std::string path = std::string(Options.dotdir) + "/" + PictureName + "-" + stage + ".dot";
    if (path.size() > DotPathLimit) {
        diagf("cannot write '%s': the name is too long", path.c_str());
        return;
    }
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        diagf("cannot write '%s': %s", path.c_str(), std::strerror(errno));
        return;
    }
    std::string title = std::string(PictureName) + " " + stage;
    writedot(t, f, title.c_str());
    if (std::fclose(f) != 0) {
        diagf("cannot write '%s': %s", path.c_str(), std::strerror(errno));
        return;
    }
    if (EventsOn) eventwrite("picture", {{"stage", stage}, {"name", PictureName}, {"file", path}});
}

// The "result" event: the normal form as the printer prints it, whatever
// --readback makes of the transcript's line, so a reader of the events can
// show either.
static void eventresult(Ref t) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* to = open_memstream(&text, &size);
    if (to == nullptr) return;  // no memory for it: the event is left out
    try {
        printtermto(to, t, false);
    } catch (const StatementStop&) {  // too deep: the normal-form line said so already
        printrestore();
    }
    std::fclose(to);
    std::string_view term(text, size);
    while (!term.empty() && term.back() == ' ') term.remove_suffix(1);
    eventwrite("result", {{"line", StatementPlace.line}, {"term", term}});
    std::free(text);
}

void watchparsed(Ref t) {
    if (WarnOn) checknames();
    if (Options.dotdir == nullptr) return;
    namepicture(StatementPlace);
    picture(t, "parsed");
}

void watchexpanded(Ref t) {
    if (Options.dotdir != nullptr) picture(t, "expanded");
}

void printnormal(Ref t) {
    outpart(Part::Normal);
    DepthPhase = "printterm";
    if (Options.readback) printreadback(t);
    else printterm(t, false);
    outs("\n");
}

void watchnormal(Ref t) {
    if (EventsOn) eventresult(t);
    if (WarnOn) warnstuck(t, StatementPlace.line);
    if (Options.dotdir != nullptr) picture(t, "normal");
}
