// Frames of a reduction (--frames=DIR): for each expression statement, the
// graph reachable from its term after every step, as Graphviz DOT, one file
// a step, and beside them one JSON Lines file that says, for each frame, the
// step's trace line and the whole term as the printer prints it.
//
// The frames of a statement named NAME (the picture name of --dot: line<L>,
// load<K>-line<L>, line<L>.2...) are
//   DIR/NAME-step<K>.dot   K from 0000: step 0 is the term before its first
//                          step (the expanded term, or the stopped term a
//                          "normal" reduces on); step k the graph after it
//   DIR/NAME-steps.jsonl   a line for each frame, then an end line
// Frames are drawn for the steps of a window: from step FramesFrom - 1 (the
// graph the window's first step rewrites) through FramesMax steps more.
// The steps past the window are counted, not drawn, and one line on
// standard error says how many there were; once a statement is past its
// window the reducer stops calling in, so they cost nothing.
//
// With --events each frame is also a "frame" event, and the statement's end a
// "frames" event; with --latex the frames' terms are the document's account
// of the reduction step by step (latexframe).
//
// Every frame is a walk and a print between two rewrites, which take no node
// and touch no flag, so the reduction and its transcript are what they are
// without frames.
#include "driver/driver.h"

#include "print/print.h"
#include "reader/reader.h"
#include "reduce/reduce.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

static std::string Picture;          // NAME, the statement's picture name
static std::string Folder;           // NAME-, the beginning of every file name in DIR
static std::FILE* Lines = nullptr;   // the statement's JSON Lines file, while it has frames
static std::uint64_t LastDrawn = 0;  // the last step of the window
static std::uint64_t Drawn = 0;      // frames drawn in this statement
static bool Failed = false;          // a file could not be written: no more frames in this statement

using json = nlohmann::ordered_json;

static const char* const Nothing = nullptr;  // a null field of an event

// DIR/name.
static std::string inframes(const std::string& name) { return std::string(Options.framesdir) + "/" + name; }

// A file that cannot be written: said once, and the statement's frames end
// (the run goes on, to end with status 1).
static void cannotwrite(const std::string& path) {
    filenotwritten(path.c_str());
    Failed = true;
}

// The frame of step k: its DOT file and its line in the JSON Lines file.
static void frame(std::uint64_t step, int rule, Ref n) {
    if (Failed) return;
    char number[32];
    std::snprintf(number, sizeof number, "step%04llu.dot", static_cast<unsigned long long>(step));
    std::string name = Folder + number;
    std::string caption;
    if (step == 0) {
        caption = "step 0: before the first step";
    } else {
        char head[64];
        std::snprintf(head, sizeof head, "step %llu: ", static_cast<unsigned long long>(step));
        caption = head + rulename(rule) + " co" + std::to_string(n);
    }
    std::FILE* f = opennewfile(inframes(name).c_str());
    if (f == nullptr) return cannotwrite(inframes(name));
    FrameMarks marks{step == 0 ? NoNode : n, caption.c_str()};
    writedot(CurrentRoot, f, caption.c_str(), &marks);
    if (std::fclose(f) != 0) return cannotwrite(inframes(name));
    json line = {{"step", step}};
    if (step == 0) {
        line["rule"] = nullptr;
        line["node"] = nullptr;
        line["trace"] = nullptr;
    } else {
        line["rule"] = rulename(rule);
        line["node"] = n;
        line["trace"] = traceline(step, rule, n);
    }
    std::string term = termtext(CurrentRoot, 0);
    line["term"] = term;
    line["file"] = name;
    std::string text = line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    if (std::fputs(text.c_str(), Lines) < 0 || std::fflush(Lines) != 0)
        return cannotwrite(inframes(Folder + "steps.jsonl"));
    Drawn++;
    std::string said = step == 0 ? "" : rulename(rule);
    if (EventsOn) {
        std::string path = inframes(name);
        if (step == 0)
            eventwrite("frame", {{"line", StatementPlace.line}, {"name", Picture.c_str()}, {"step", step},
                                 {"rule", Nothing}, {"node", Nothing}, {"term", term}, {"file", path}});
        else
            eventwrite("frame", {{"line", StatementPlace.line}, {"name", Picture.c_str()}, {"step", step},
                                 {"rule", said}, {"node", n}, {"term", term}, {"file", path}});
    }
    if (Options.latex != nullptr) latexframe(step, said, term);
}

void framesstart() {
    if (Lines != nullptr) std::fclose(Lines);  // left open by a run that ended in the middle of a statement
    Lines = nullptr;
}

bool framesbegin(const char* picturename) {
    Failed = false;
    Drawn = 0;
    if (Options.framesfor != nullptr && std::strcmp(Options.framesfor, picturename) != 0) return false;
    Picture = picturename;
    Folder = Picture + "-";
    std::string path = inframes(Folder + "steps.jsonl");
    Lines = opennewfile(path.c_str());
    if (Lines == nullptr) {
        cannotwrite(path);
        return false;
    }
    LastDrawn = Options.framesfrom - 1 + Options.framesmax;
    if (Options.framesfrom == 1) frame(0, 0, NoNode);
    return true;
}

bool framestep(std::uint64_t step, int rule, Ref n) {
    if (step + 1 >= Options.framesfrom) frame(step, rule, n);
    return step < LastDrawn && !Failed;
}

void framesend() {
    if (Lines == nullptr) return;
    std::uint64_t steps = statementsteps();
    json end = {{"end", true}, {"steps", steps}, {"frames", Drawn}};
    std::string text = end.dump() + "\n";
    std::fputs(text.c_str(), Lines);
    if (std::fclose(Lines) != 0 && !Failed) cannotwrite(inframes(Folder + "steps.jsonl"));
    Lines = nullptr;
    if (EventsOn)
        eventwrite("frames", {{"line", StatementPlace.line}, {"name", Picture.c_str()}, {"steps", steps},
                              {"frames", Drawn}, {"file", inframes(Folder + "steps.jsonl")}});
    if (steps > LastDrawn && !Failed)
        diagf("%lld: frames: %llu more steps not drawn, past the cap of %llu (--frames-max)",
              static_cast<long long>(StatementPlace.line), static_cast<unsigned long long>(steps - LastDrawn),
              static_cast<unsigned long long>(Options.framesmax));
}
