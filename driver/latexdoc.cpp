// The LaTeX document of --latex=FILE: for each expression statement, its
// term as read, as expanded and its normal form in the usual notation
// (latexterm), in an align* display, and the graph of its normal form as a
// TikZ picture.  The pictures are not drawn here: --dot writes the DOT,
// dot2tex (Debian's dot2tex) turns each file into TikZ beside it, and the
// document inputs that file when it is there, so the interpreter only ever
// writes text, as for the pictures of --dot.
//
// With --frames, each expression's frames make a second display: the
// reduction step by step, a numbered row for each step drawn.
//
// The document compiles with pdflatex (Debian's texlive-latex-base, and
// texlive-pictures for TikZ), run in the document's folder.
#include "driver/driver.h"

#include "print/print.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// A term whose LaTeX is longer than this is set as a paragraph that may
// break between items: about what a line of the display holds.
constexpr std::size_t LatexLineChars = 160;
// A graph of more nodes is not drawn: TeX cannot hold a picture past about
// 5.7 m, which a chain of some 220 nodes, laid out a rank apart, reaches; and
// long before that a picture shrunk to the page is too small to read.
constexpr std::size_t LatexPictureNodes = 120;

static std::FILE* Latex = nullptr;  // the document being written, while the run lasts
// The --dot folder as the document names it: relative to the document's own
// folder, so pdflatex run there finds the pictures; "" when there is none or
// when it cannot be named safely in TeX.
static std::string Pictures;

// A path's folder ("." for a bare file name).
static std::string folderof(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return ".";
    if (slash == path) return "/";
    return std::string(path, std::size_t(slash - path));
}

bool latexwritable(const char* path) {
    struct stat st;
    if (stat(path, &st) == 0) return S_ISREG(st.st_mode) && access(path, W_OK) == 0;
    return access(folderof(path).c_str(), W_OK | X_OK) == 0;
}

// The path of folder as seen from base, both made absolute; "" when either
// cannot be resolved.
static std::string relative(const std::string& folder, const std::string& base) {
    char a[PATH_MAX], b[PATH_MAX];
    if (realpath(folder.c_str(), a) == nullptr || realpath(base.c_str(), b) == nullptr) return "";
    std::string to = a, from = b;
    if (from != "/") from += "/";
    if (to != "/") to += "/";
    std::size_t common = 0;  // the length of the shared folders, through their "/"
    for (std::size_t k = 0; k < to.size() && k < from.size() && to[k] == from[k]; k++)
        if (to[k] == '/') common = k + 1;
    std::string up;
    for (std::size_t k = common; k < from.size(); k++)
        if (from[k] == '/') up += "../";
    std::string rest = to.substr(common);
    std::string path = up + rest;
    return path.empty() ? "./" : path;
}

// Only these characters go into a path TeX reads unquoted.
static bool texsafe(const std::string& path) {
    for (char c : path)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '.' || c == '-' || c == '_'))
            return false;
    return true;
}

// Text for LaTeX's typewriter type, whose font has every ASCII character:
// the characters TeX gives a meaning escaped, a character outside ASCII as
// "?".
static std::string textof(const char* text) {
    std::string s;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c != 0; c++) {
        if (*c >= 0x80) {
            if ((*c & 0xC0) != 0x80) s += '?';
        } else if (std::strchr("#$%&_{}", *c) != nullptr) {
            s += '\\';
            s += char(*c);
        } else if (*c == '\\' || *c == '^' || *c == '~' || *c < 0x20) {
            s += '?';
        } else {
            s += char(*c);
        }
    }
    return s;
}

void latexstart() {
    Latex = std::fopen(Options.latex, "w");
    if (Latex == nullptr) {
        diagf("cannot write '%s': %s", Options.latex, std::strerror(errno));
        return;
    }
    Pictures.clear();
    if (Options.dotdir != nullptr) {
        Pictures = relative(Options.dotdir, folderof(Options.latex));
        if (!texsafe(Pictures)) Pictures.clear();
    }
    const char* program = Options.file != nullptr && std::strcmp(Options.file, "-") != 0 ? Options.file
                                                                                         : "standard input";
    std::fputs("% The expressions of a kestrivo run, written by kestrivo --latex.\n"
               "% Compile with pdflatex in this file's folder.  The graphs come from the DOT\n"
               "% files of --dot=DIR, each made TikZ by dot2tex beside it:\n"
               "%   for f in DIR/*-normal.dot; do dot2tex --figonly -ftikz \"$f\" > \"${f%.dot}.tex\"; done\n"
               "\\documentclass{article}\n"
               "\\usepackage{amsmath,amssymb}\n"
               "\\usepackage{graphicx}\n"
               "\\usepackage{tikz}\n"
               "\\usetikzlibrary{arrows,shapes}\n"
               "% The line of a labelled node in the DOT (style=bold), which dot2tex passes on.\n"
               "\\tikzset{bold/.style={line width=1.2pt}}\n"
               "\\allowdisplaybreaks\n"
               "% A graph, when dot2tex has made it, no wider than the text and no\n"
               "% taller than most of a page.\n"
               "\\newsavebox{\\kestrivograph}\n"
               "\\newcommand{\\kestrivopicture}[1]{\\IfFileExists{#1}{\\begin{center}"
               "\\sbox{\\kestrivograph}{\\input{#1}}"
               "\\ifdim\\wd\\kestrivograph>\\linewidth"
               "\\sbox{\\kestrivograph}{\\resizebox{\\linewidth}{!}{\\usebox{\\kestrivograph}}}\\fi"
               "\\ifdim\\ht\\kestrivograph>.7\\textheight"
               "\\sbox{\\kestrivograph}{\\resizebox{!}{.7\\textheight}{\\usebox{\\kestrivograph}}}\\fi"
               "\\usebox{\\kestrivograph}\\end{center}}{}}\n"
               "\\begin{document}\n",
               Latex);
    std::fprintf(Latex, "\\section*{\\texttt{%s}}\n", textof(program).c_str());
}

// The nodes of a picture --dot wrote (each is a line with a label); 0 when
// it cannot be read.
static std::size_t graphnodes(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return 0;
    std::size_t nodes = 0;
    char line[512];
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strstr(line, " [label=") != nullptr && std::strstr(line, " -> ") == nullptr) nodes++;
    std::fclose(f);
    return nodes;
}

// A term's LaTeX as a cell of the display.  One longer than a line could
// hold goes in a paragraph of its own width, free to break between its
// items, so it stays on the page.
static std::string cell(const std::string& printed) {
    std::string term = latexterm(printed);
    if (term.size() <= LatexLineChars) return term;
    std::string broken;
    for (std::size_t k = 0; k < term.size(); k++) {
        broken += term[k];
        if (term[k] == ';' && k > 0 && term[k - 1] == '\\') broken += "\\allowbreak{}";
    }
    return "\\parbox[t]{.5\\linewidth}{\\raggedright$" + broken + "$}";
}

// --frames: the frames of the expression under way, each a step's number,
// its rule and the whole term after it, set as a cell; what latexexpression
// writes as the reduction step by step.
namespace {
struct StepRow {
    std::uint64_t step;
    std::string rule;  // "" for step 0
    std::string term;  // the cell
};
}  // namespace
static std::vector<StepRow> Frames;

void latexframe(std::uint64_t step, const std::string& rule, const std::string& term) {
    if (Latex == nullptr) return;
    Frames.push_back(StepRow{step, rule, cell(term)});
}

void latexframesclear() { Frames.clear(); }

// The expression's reduction, step by step, from its frames: one numbered
// row a frame (its number the step's), the rule that made it beside it, and
// a last row for the steps after the frames' window.  steps: all the
// expression made.
static void latexsteps(std::uint64_t steps) {
    if (Frames.empty()) return;
    std::fputs("\\paragraph{Step by step}\n\\begin{align*}\n", Latex);
    for (std::size_t k = 0; k < Frames.size(); k++) {
        const StepRow& f = Frames[k];
        // The first frame after step 0 was reached in several steps.
        const char* arrow = f.step == 0 ? "" : k == 0 && f.step > 1 ? "\\rightarrow^{*}{}" : "\\rightarrow{}";
        std::string why = f.step == 0 ? "before the first step" : "\\texttt{" + textof(f.rule.c_str()) + "}";
        std::fprintf(Latex, "%s&%s &&\\text{%s} \\tag{%llu}%s\n", arrow, f.term.c_str(), why.c_str(),
                     static_cast<unsigned long long>(f.step),
                     k + 1 < Frames.size() || Frames.back().step < steps ? "\\\\" : "");
    }
    std::uint64_t last = Frames.back().step;
    if (last < steps)
        std::fprintf(Latex, "\\rightarrow^{*}{}&\\dots &&\\text{%llu more step%s, not drawn}\n",
                     static_cast<unsigned long long>(steps - last), steps - last == 1 ? "" : "s");
    std::fputs("\\end{align*}\n", Latex);
    Frames.clear();
}

void latexexpression(const Expression& e) {
    if (Latex == nullptr) return;
    std::fprintf(Latex, "\n\\subsection*{Line %lld}\n\\begin{align*}\n", static_cast<long long>(e.line));
    std::fprintf(Latex, "&%s &&\\text{as read}\\\\\n", cell(e.parsed).c_str());
    if (e.expanded != e.parsed)
        std::fprintf(Latex, "={}&%s &&\\text{definitions expanded}\\\\\n", cell(e.expanded).c_str());
    // A stopped expression: the term as it stands (or an ellipsis when the
    // stop cut a rewrite short), reached in some steps, not its normal form.
    std::fprintf(Latex, "%s&%s &&\\text{%s%s%llu step%s, %d new node%s}\n",
                 e.stop != nullptr ? "\\rightarrow^{*}{}" : "\\twoheadrightarrow{}",
                 e.stop != nullptr && e.normal.empty() ? "\\dots" : cell(e.normal).c_str(),
                 e.stop != nullptr ? e.stop : "normal form", e.stop != nullptr ? " after " : ": ",
                 static_cast<unsigned long long>(e.steps),
                 e.steps == 1 ? "" : "s", int(e.newnodes), e.newnodes == 1 ? "" : "s");
    std::fputs("\\end{align*}\n", Latex);
    latexsteps(e.steps);
    if (e.picture == nullptr || Pictures.empty()) return;
    std::size_t nodes = graphnodes(std::string(Options.dotdir) + "/" + e.picture + "-normal.dot");
    if (nodes > LatexPictureNodes)
        std::fprintf(Latex, "\\begin{center}(a graph of %zu nodes, not drawn)\\end{center}\n", nodes);
    else
        std::fprintf(Latex, "\\kestrivopicture{%s%s%s-normal.tex}\n", Pictures.c_str(),
                     Pictures.back() == '/' ? "" : "/", e.picture);
}

void latexend() {
    if (Latex == nullptr) return;
    std::fputs("\n\\end{document}\n", Latex);
    if (std::fclose(Latex) != 0) diagf("cannot write '%s': %s", Options.latex, std::strerror(errno));
    Latex = nullptr;
}
