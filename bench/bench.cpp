// Benchmarks: whole programs run in-process, output discarded, each timed
// over several runs (the median is reported).  They measure what users feel:
// start-up, reading a long program, beta steps per second, collections,
// parsing and printing long statements.
#include "driver/driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

struct Case {
    const char* name;
    std::string program;
    std::vector<std::string> args;  // after the program name; "-" stands for the text
    int runs;
};

static double runonce(const Case& c) {
    std::vector<const char*> argv{"kestrivo"};
    for (const std::string& a : c.args) argv.push_back(a.c_str());
    std::FILE* in = fmemopen(const_cast<char*>(c.program.data()), c.program.size(), "r");
    std::FILE* out = std::fopen("/dev/null", "w");
    auto start = std::chrono::steady_clock::now();
    runkestrivo(int(argv.size()), argv.data(), in, out, out);
    auto end = std::chrono::steady_clock::now();
    std::fclose(in);
    std::fclose(out);
    return std::chrono::duration<double, std::milli>(end - start).count();
}

static std::string repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; i++) r += s;
    return r;
}

int main() {
    std::vector<Case> cases;
    cases.push_back({"start-up, default pool", "exit;\n", {"-"}, 50});
    cases.push_back({"start-up, 1000 blocks", "exit;\n", {"-", "999"}, 10});
    std::string lines;
    for (int i = 0; i < 10000; i++)
        lines += "(lambda x (+ x " + std::to_string(i % 1000) + ")) 2;\n";
    cases.push_back({"10,000 expression lines", lines + "exit;\n", {"-"}, 10});
    const std::string fib = "fib = lambda n ((< n 2) n (+ (fib (- n 1)) (fib (- n 2))));\n";
    cases.push_back({"fib 20, 60 collections (372142 nodes)", fib + "fib 20;\nexit;\n", {"-"}, 10});
    cases.push_back({"fib 24, 1000 blocks (2.5M nodes)", fib + "fib 24;\nexit;\n", {"-", "999"}, 5});
    // The same with the figures of --stats printed (on the errors stream,
    // /dev/null here): they are counted either way, printing is all it adds.
    cases.push_back({"fib 24, 1000 blocks, --stats", fib + "fib 24;\nexit;\n",
                     {"--stats", "-", "999"}, 5});
    cases.push_back({"non-tail sum to 50000, 1000 blocks",
                     "sum = lambda n ((= n 0) 0 (+ n (sum (- n 1))));\nsum 50000;\nexit;\n",
                     {"-", "999"}, 5});
    cases.push_back({"application chain of 100,000 arguments",
                     "f " + repeat("a ", 100000) + ";\nexit;\n", {"-", "999", "200000"}, 5});
    cases.push_back({"operator chain of 50,000 groups",
                     "+ " + repeat("(a) ", 50000) + ";\nexit;\n", {"-", "999", "200000"}, 5});
    cases.push_back({"list of 100,000 numbers, read and printed",
                     "cons " + repeat("1 ", 100000) + "0;\nexit;\n", {"-", "999", "200000"}, 5});
    cases.push_back({"one line of 10 MB, read and echoed",
                     "% " + std::string(10000000, 'a') + " % 1;\nexit;\n", {"-"}, 5});
    cases.push_back({"stuck application of f to 30 arguments",
                     "f " + repeat("1 ", 30) + ";\nexit;\n", {"-"}, 10});
    cases.push_back({"pair of a pair ... of one node, 30 deep",
                     "d = lambda p (cons p p);\n" + repeat("(d ", 30) + "1" + repeat(")", 30) + ";\nexit;\n",
                     {"-"}, 10});
    // The reducer's long walks: an argument passed on unchanged down a
    // recursion, a name searched for through a growing environment.
    const std::string upto = "upto = lambda a b ((< b a) 0 (cons a (upto (+ a 1) b)));\n";
    cases.push_back({"map and sum over 1000 elements, 100 blocks",
                     upto + "map = lambda f l ((com l) (cons (f (car l)) (map f (cdr l))) 0);\n"
                            "sum = lambda l ((com l) (+ (car l) (sum (cdr l))) 0);\n"
                            "sum (map (lambda x (* x x)) (upto 1 1000));\nexit;\n",
                     {"-", "99"}, 5});
    cases.push_back({"sieve of the primes below 1000, 1000 blocks",
                     upto + "filter = lambda p l ((com l) ((p (car l)) (cons (car l) (filter p (cdr l)))"
                            " (filter p (cdr l))) 0);\n"
                            "sieve = lambda l ((com l) (cons (car l) (sieve (filter (lambda x"
                            " (<> (mod x (car l)) 0)) (cdr l)))) 0);\n"
                            "length = lambda l ((com l) (+ 1 (length (cdr l))) 0);\n"
                            "length (sieve (upto 2 999));\nexit;\n",
                     {"-", "999"}, 5});
    cases.push_back({"a free name at 1000 levels, 100 blocks",
                     "loop = lambda n ((= n 0) 0 (cons y (loop (- n 1))));\nloop 1000;\nexit;\n",
                     {"-", "99"}, 5});
    const std::string omega = "(lambda x (x x)) (lambda x (x x));\n";
    cases.push_back({"omega until 49 blocks are full", omega, {"-", "48"}, 3});
    cases.push_back({"omega until 200 blocks are full", omega, {"-", "199"}, 3});
    cases.push_back({"garbage statement on 1000 blocks, 10 times",
                     repeat("garbage;\n", 10) + "exit;\n", {"-", "999"}, 5});

    std::printf("%-45s %12s\n", "benchmark", "median ms");
    for (Case& c : cases) {
        for (std::string& a : c.args)
            if (a == "-") a = "program";  // named, but the text comes from memory
        std::vector<double> times;
        for (int i = 0; i < c.runs; i++) times.push_back(runonce(c));
        std::sort(times.begin(), times.end());
        std::printf("%-45s %12.3f\n", c.name, times[times.size() / 2]);
    }
    return 0;
}
