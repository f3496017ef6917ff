(define (range a b) (if (< b a) '() (cons a (range (+ a 1) b))))
(define (suml l) (if (pair? l) (+ (car l) (suml (cdr l))) 0))
(define (rep l k) (if (= k 0) 0 (+ (suml l) (rep l (- k 1)))))
(display (rep (range 1 720) 200)) (newline)
