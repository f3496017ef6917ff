" Vim syntax file for kestrivo programs (*.lam).
"
" A word ends at a blank, a bracket, "%", ";" or one of "*", "+", "-"; those
" three also begin the next word, so "+r" is one word and "x+y" is "x" and
" "+y".  Command words and definitions count only as the first word of a
" statement.  A comment runs from "%" to the next "%", across lines.  A word
" of more than 8 characters (a sign or a quote included, a number too) shows
" as an error, since the interpreter stops on it.

if exists("b:current_syntax")
  finish
endif

let s:cpo_save = &cpo
set cpo&vim

" w: a character that continues a word; b: the start of a word that does
" not begin with a sign; e: the end of any word.
let s:w = '[^ \t()[\]{}%;*+\-]'
let s:b = '\%(^\|[ \t()[\]{}%;*+\-]\)\@1<='
let s:e = '\%(' . s:w . '\)\@!'
let s:word = '\%([*+\-]' . s:w . '*\|' . s:w . '\+\)'
" short: a word of at most 8 characters, the most a name may have.
let s:short = '\%([*+\-]' . s:w . '\{,7}\|' . s:w . '\{1,8}\)' . s:e
let s:start = '\%(\%(^\|;\)\s*\)\@<='

function! s:words(group, words) abort
  execute 'syntax match ' . a:group . ' "' . s:b . '\%(' . a:words . '\)' . s:e . '"'
endfunction

syntax case match

execute 'syntax match kestrivoName "' . s:word . '"'
call s:words('kestrivoLambda', 'lambda')
call s:words('kestrivoBoolean', 'true\|false')
call s:words('kestrivoBuiltin', 'app\|sub\|cons\|print\|ident\|car\|cdr\|com\|intatom\|realatom\|stratom\|abs\|float\|arctan\|cos\|exp\|ln\|sin\|sqrt\|absr\|trunc\|div\|mod')
call s:words('kestrivoOperator', '<>r\|<=r\|<r\|=r\|=s\|<>\|<=\|<\|=\|/')
execute 'syntax match kestrivoOperator "[*+\-]r\=' . s:e . '"'
execute 'syntax match kestrivoInteger "\%(-\|' . s:b . '\)\d\+' . s:e . '"'
execute 'syntax match kestrivoReal "\%(-\|' . s:b . '\)\d\+\.\d*' . s:e . '"'
execute 'syntax match kestrivoAtom "' . s:b . "'" . s:w . '*"'
syntax match kestrivoBracket "[()[\]{}]"
" Defined after every other word, so that it wins where they start together.
execute 'syntax match kestrivoTooLong "\%([*+\-]' . s:w . '\{8,}\|' . s:b . s:w . '\{9,}\)"'
syntax match kestrivoEnd ";"

execute 'syntax match kestrivoDefinition "' . s:start . s:short . '\ze\s\+=' . s:e . '" nextgroup=kestrivoAssign skipwhite'
execute 'syntax match kestrivoAssign "=' . s:e . '" contained'
execute 'syntax match kestrivoCommand "' . s:start . '\%(exit\|new\|garbage\|normal\|space\|insatu\|noinsatu\)' . s:e . '"'
execute 'syntax match kestrivoCommand "' . s:start . '\%(writeln\|write\)' . s:e . '" nextgroup=kestrivoWritten skipwhite'
execute 'syntax match kestrivoWritten "' . s:short . '" contained'
execute 'syntax match kestrivoMacro "' . s:start . 'macro' . s:e . '" nextgroup=kestrivoMacroName skipwhite'
execute 'syntax match kestrivoMacroName "' . s:short . '" contained'

syntax region kestrivoComment start="%" end="%" contains=@Spell
syntax sync fromstart

delfunction s:words

highlight default link kestrivoComment    Comment
highlight default link kestrivoCommand    Statement
highlight default link kestrivoMacro      PreProc
highlight default link kestrivoMacroName  Macro
highlight default link kestrivoDefinition Function
highlight default link kestrivoAssign     Operator
highlight default link kestrivoLambda     Keyword
highlight default link kestrivoBuiltin    Function
highlight default link kestrivoOperator   Operator
highlight default link kestrivoBoolean    Boolean
highlight default link kestrivoInteger    Number
highlight default link kestrivoReal       Float
highlight default link kestrivoAtom       String
highlight default link kestrivoWritten    String
highlight default link kestrivoBracket    Delimiter
highlight default link kestrivoTooLong    Error

let b:current_syntax = "kestrivo"

let &cpo = s:cpo_save
unlet s:cpo_save
