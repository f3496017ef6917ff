// The editor's mode for the interpreter's language: a StreamLanguage that
// colours command words, operator names, numbers, string atoms and comments.
//
// Words follow the tokenizer's rule: brackets and ";" stand alone, blanks
// separate, "*", "+" and "-" end the word before them and begin a new one, and
// every other character continues a word.  A comment runs from "%" to the next
// "%", across lines.
import { StreamLanguage } from "@codemirror/language";

const commands = new Set([
  "exit", "new", "garbage", "normal", "space", "write", "writeln",
  "insatu", "noinsatu", "macro",
]);

const operators = new Set([
  "app", "lambda", "sub", "cons", "print", "ident", "car", "cdr", "com",
  "intatom", "realatom", "stratom", "abs", "float", "arctan", "cos", "exp",
  "ln", "sin", "sqrt", "absr", "trunc", "+", "-", "*", "div", "mod", "=", "<",
  "<>", "<=", "+r", "-r", "*r", "/", "=r", "<r", "<>r", "<=r", "=s",
]);

// Characters that end a word (the blank, tab, "%", brackets, ";" and the
// three arithmetic signs).
const terminators = new Set([" ", "\t", "%", "(", ")", "*", "+", "-", ";", "[", "]", "{", "}"]);

function readword(stream) {
  // "*", "+" and "-" start a word that runs to the next terminator.
  stream.next();
  while (!stream.eol() && !terminators.has(stream.peek())) stream.next();
  return stream.current();
}

export const kestrivoLanguage = StreamLanguage.define({
  name: "kestrivo",
  // comment: inside "% ... %"; index: the word's position in its statement
  // ("=" as the second word makes a definition, elsewhere it compares).
  startState: () => ({ comment: false, index: 0 }),
  copyState: (s) => ({ comment: s.comment, index: s.index }),
  token(stream, state) {
    if (state.comment) {
      if (stream.skipTo("%")) {
        stream.next();
        state.comment = false;
      } else {
        stream.skipToEnd();
      }
      return "comment";
    }
    if (stream.eatSpace()) return null;
    const c = stream.peek();
    if (c === "%") {
      stream.next();
      state.comment = true;
      return "comment";
    }
    if (c === ";") {
      stream.next();
      state.index = 0;
      return "punctuation";
    }
    const index = state.index++;
    if ("()[]{}".includes(c)) { stream.next(); return "bracket"; }
    const word = readword(stream);
    if (word === "=" && index === 1) return "definitionOperator";
    if (commands.has(word)) return "keyword";
    if (operators.has(word)) return "operatorKeyword";
    if (word === "true" || word === "false") return "bool";
    if (word.startsWith("'")) return "string";
    if (/^[0-9]+\.[0-9]*([eE][+-]?[0-9]+)?$/.test(word)) return "number";
    if (/^[0-9]+$/.test(word)) return "integer";
    return "variableName";
  },
  languageData: { commentTokens: {} },
});
