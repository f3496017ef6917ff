" Checks editors/vim against the annotated sample that the TextMate grammar
" test reads: every scope asserted there must show as the matching Vim
" syntax group.  Run as
"   vim -es -N -u NONE -i NONE --cmd 'set rtp^=EDITORS/vim' -S vimcheck.vim SAMPLE
" Exits with status 0 when every assertion holds; otherwise lists the
" failures on standard error and exits with status 1.

let s:groups = {
      \ 'comment.block.percent': 'kestrivoComment',
      \ 'punctuation.definition.comment.begin': 'kestrivoComment',
      \ 'punctuation.definition.comment.end': 'kestrivoComment',
      \ 'keyword.control.command': 'kestrivoCommand',
      \ 'string.unquoted.written': 'kestrivoWritten',
      \ 'keyword.control.macro': 'kestrivoMacro',
      \ 'entity.name.function.macro': 'kestrivoMacroName',
      \ 'entity.name.function.definition': 'kestrivoDefinition',
      \ 'keyword.operator.assignment': 'kestrivoAssign',
      \ 'storage.type.function.lambda': 'kestrivoLambda',
      \ 'constant.language.boolean': 'kestrivoBoolean',
      \ 'support.function.builtin': 'kestrivoBuiltin',
      \ 'keyword.operator.arithmetic': 'kestrivoOperator',
      \ 'keyword.operator.comparison': 'kestrivoOperator',
      \ 'constant.numeric.integer': 'kestrivoInteger',
      \ 'constant.numeric.float': 'kestrivoReal',
      \ 'string.other.atom': 'kestrivoAtom',
      \ 'punctuation.section.brackets': 'kestrivoBracket',
      \ 'punctuation.terminator.statement': 'kestrivoEnd',
      \ 'variable.other': 'kestrivoName',
      \ 'invalid.illegal.word-too-long': 'kestrivoTooLong',
      \ }

let s:failures = []
function! s:fail(text) abort
  call add(s:failures, a:text)
endfunction

" Splits the sample as the grammar test does: line 1 is the header, a line
" of "%" followed by carets or "<-" asserts scopes of the last source line.
let s:lines = readfile(expand('%:p'))
let s:source = []
let s:checks = []   " [source line number, first column, last column, wanted, unwanted]
for s:text in s:lines[1:]
  let s:m = matchlist(s:text, '^%\(\s*\)\(\^\+\|<\~*-\+\)\s*\(.*\)$')
  if empty(s:m)
    call add(s:source, s:text)
    continue
  endif
  if s:m[2][0] ==# '<'
    let s:first = len(matchstr(s:m[2], '\~*'))
    let s:last = s:first + len(matchstr(s:m[2], '-\+')) - 1
  else
    let s:first = 1 + len(s:m[1])
    let s:last = s:first + len(s:m[2]) - 1
  endif
  let s:words = split(s:m[3])
  let s:minus = index(s:words, '-')
  let s:wanted = s:minus < 0 ? s:words : s:minus == 0 ? [] : s:words[: s:minus - 1]
  let s:unwanted = s:minus < 0 ? [] : s:words[s:minus + 1 :]
  call add(s:checks, [len(s:source), s:first, s:last, s:wanted, s:unwanted])
endfor

" The source lines go to a file of their own, so that opening it runs the
" file-type detection as for any program.
let s:program = tempname() . '.lam'
call writefile(s:source, s:program)
filetype on
syntax on
execute 'edit ' . fnameescape(s:program)
if &filetype !=# 'kestrivo'
  call s:fail('filetype of a .lam file is "' . &filetype . '", not "kestrivo"')
endif

function! s:group(scope) abort
  let l:key = substitute(a:scope, '\.kestrivo$', '', '')
  if !has_key(s:groups, l:key)
    call s:fail('no Vim group is known for the scope ' . a:scope)
    return ''
  endif
  return s:groups[l:key]
endfunction

for [s:lnum, s:first, s:last, s:wanted, s:unwanted] in s:checks
  for s:col in range(s:first, s:last)
    let s:name = synIDattr(synID(s:lnum, s:col + 1, 1), 'name')
    let s:where = 'line ' . s:lnum . ' column ' . s:col . ' ("' . getline(s:lnum) . '")'
    for s:scope in s:wanted
      if s:name !=# s:group(s:scope)
        call s:fail(s:where . ': ' . s:scope . ' wanted as ' . s:group(s:scope) . ', found "' . s:name . '"')
      endif
    endfor
    for s:scope in s:unwanted
      if s:name ==# s:group(s:scope)
        call s:fail(s:where . ': ' . s:name . ' where ' . s:scope . ' is excluded')
      endif
    endfor
  endfor
endfor
call delete(s:program)

if empty(s:checks)
  call s:fail('the sample asserts nothing')
endif
if !empty(v:errmsg)
  call s:fail('Vim reported: ' . v:errmsg)
endif
if empty(s:failures)
  qall!
endif
call writefile(s:failures, '/dev/stderr')
cquit
