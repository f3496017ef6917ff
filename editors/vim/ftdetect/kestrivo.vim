" kestrivo programs: lambda-calculus statements ended by ";".
autocmd BufNewFile,BufRead *.lam setfiletype kestrivo
