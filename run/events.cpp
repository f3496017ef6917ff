// The event stream (--events=FILE): one JSON object a line.  The JSON is
// nlohmann's (Debian's nlohmann-json3-dev): a header-only library whose
// escaping and UTF-8 checks are the standard's, so no string the program
// meets can break a line of the stream.  docs/events.md is the schema.
//
// The transcript is captured by a stream of our own (a glibc cookie stream)
// that Output becomes while the events are on: every byte written to it goes
// on to the transcript's own stream at once, and is gathered into lines that
// go out as "out" events.  The writer of each part of the transcript says
// where it begins (outpart); this module flushes the capture there, so the
// bytes before belong to the part before.
#include "run/run.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <span>
#include <string>

bool EventsOn = false;

static std::FILE* Events = nullptr;      // where the events go
static bool EventsOwned = false;         // opened here, closed at the end
static std::FILE* Transcript = nullptr;  // the transcript's own stream: Output before the capture
static std::FILE* Capture = nullptr;     // the capture, Output while the events are on
static Part Current = Part::Report;      // the part the bytes now written belong to
static int LinesLeft = 0;                // line ends before Current falls back to Report
static std::string Line;                 // the current line's bytes not yet sent

// The names of the parts in the "out" events, in the order of Part.
static const char* const PartNames[] = {
    "startup", "echo", "parsed", "expanded", "normal", "newnodes",
    "collection", "output", "insatu", "report",
};
static_assert(std::size(PartNames) == std::size_t(Part::Report) + 1, "a name for every part");

// Fields keep the order they are written in, "event" first, for readers.
using json = nlohmann::ordered_json;

// The bytes of text as base64, for a text that is not valid UTF-8 and so
// cannot travel in a JSON string as it is.
static std::string base64(std::string_view text) {
    static const char Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t k = 0;
    for (; k + 2 < text.size(); k += 3) {
        std::uint32_t v = std::uint32_t(std::uint8_t(text[k])) << 16 |
                          std::uint32_t(std::uint8_t(text[k + 1])) << 8 | std::uint8_t(text[k + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) out += Digits[(v >> shift) & 63];
    }
    if (k < text.size()) {
        std::uint32_t v = std::uint32_t(std::uint8_t(text[k])) << 16;
        if (k + 1 < text.size()) v |= std::uint32_t(std::uint8_t(text[k + 1])) << 8;
        out += Digits[(v >> 18) & 63];
        out += Digits[(v >> 12) & 63];
        out += k + 1 < text.size() ? Digits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// True when text is valid UTF-8, as the library's strict dump sees it.
static bool validtext(const std::string& text) {
    try {
        (void)json(text).dump();
        return true;
    } catch (const json::type_error&) {
        return false;
    }
}

// Writes an event as one line.  A text that is not valid UTF-8 goes with
// each invalid byte replaced by U+FFFD, and its exact bytes in a second
// field, its name and "_base64".
static void emit(json& e) {
    std::string text;
    try {
        text = e.dump();
    } catch (const json::type_error&) {
        json extra = json::object();
        for (auto& [name, value] : e.items())
            if (value.is_string() && !validtext(value.get_ref<const std::string&>()))
                extra[name + "_base64"] = base64(value.get_ref<const std::string&>());
        e.update(extra);
        text = e.dump(-1, ' ', false, json::error_handler_t::replace);
    }
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), Events);
}

// The current line (or the piece of it written so far) as an "out" event.
static void sendline() {
    json e = {{"event", "out"}, {"part", PartNames[std::size_t(Current)]}, {"text", Line}};
    emit(e);
    bool ended = !Line.empty() && Line.back() == '\n';
    Line.clear();
    if (ended && LinesLeft > 0 && --LinesLeft == 0) Current = Part::Report;
}

// The capture's write: the bytes go on to the transcript's stream, and each
// line ended goes out as an event.  Returns the bytes the transcript took
// (fewer marks the capture as failed, as a failed write marks a stream).
static ssize_t captured(void*, const char* data, std::size_t size) {
    for (std::size_t k = 0; k < size; k++) {
        Line += data[k];
        if (data[k] == '\n') sendline();
    }
    return ssize_t(std::fwrite(data, 1, size, Transcript));
}

// Sends what the capture holds, the piece of a line not ended included.
static void sendcaptured() {
    std::fflush(Capture);
    if (!Line.empty()) sendline();
}

bool eventsopen(const char* path) {
    bool toerrors = std::strcmp(path, "-") == 0;
    std::FILE* to = toerrors ? Diagnostics : std::fopen(path, "w");
    if (to == nullptr) return false;
    static const cookie_io_functions_t io = {nullptr, captured, nullptr, nullptr};
    std::FILE* capture = fopencookie(nullptr, "w", io);
    if (capture == nullptr) {
        int why = errno;
        if (!toerrors) std::fclose(to);
        errno = why;
        return false;
    }
    Events = to;
    EventsOwned = !toerrors;
    Capture = capture;
    Transcript = Output;
    Output = Capture;
    Current = Part::Report;
    LinesLeft = 0;
    Line.clear();
    EventsOn = true;
    return true;
}

void eventsclose(int status) {
    if (!EventsOn) return;
    eventwrite("end", {{"status", status}});
    std::fclose(Capture);  // holds nothing now: eventwrite sent it
    Output = Transcript;
    std::fflush(Events);
    if (EventsOwned) std::fclose(Events);
    Events = Capture = Transcript = nullptr;
    EventsOn = false;
}

bool eventsflush() {
    errno = 0;
    bool ok = std::fflush(Transcript) == 0 && !std::ferror(Transcript);
    int why = errno;
    std::fflush(Events);
    errno = why;
    return ok;
}

bool transcriptfailed() { return std::ferror(Transcript); }

void partbegins(Part p) {
    sendcaptured();
    Current = p;
    LinesLeft = p == Part::Report ? 0 : p == Part::Collection ? 2 : 1;
}

void eventwrite(const char* type, std::initializer_list<EventField> fields) {
    eventwrite(type, fields.begin(), fields.size());
}

void eventwrite(const char* type, const EventField* fields, std::size_t count) {
    sendcaptured();
    json e = {{"event", type}};
    for (const EventField& f : std::span(fields, count)) {
        switch (f.kind) {
        case EventField::Signed: e[f.name] = f.i; break;
        case EventField::Unsigned: e[f.name] = f.u; break;
        case EventField::Real: e[f.name] = f.r; break;
        case EventField::Flag: e[f.name] = f.i != 0; break;
        case EventField::Text: e[f.name] = std::string(f.s); break;
        case EventField::Null: e[f.name] = nullptr; break;
        case EventField::Texts:
            e[f.name] = json::array();
            for (int k = 0; k < f.count; k++) e[f.name].push_back(std::string(f.list[k]));
            break;
        }
    }
    emit(e);
}
