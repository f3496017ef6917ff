(define (range a b) (if (< b a) '() (cons a (range (+ a 1) b))))
(define (mapl f l) (if (pair? l) (cons (f (car l)) (mapl f (cdr l))) '()))
(define (suml l) (if (pair? l) (+ (car l) (suml (cdr l))) 0))
(display (suml (mapl (lambda (x) (* x 2)) (range 1 3000)))) (newline)
