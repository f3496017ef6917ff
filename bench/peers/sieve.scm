(define (range a b) (if (< b a) '() (cons a (range (+ a 1) b))))
(define (filt p l) (cond ((not (pair? l)) '()) ((p (car l)) (cons (car l) (filt p (cdr l)))) (else (filt p (cdr l)))))
(define (sieve l) (if (pair? l) (cons (car l) (sieve (filt (lambda (y) (not (= (remainder y (car l)) 0))) (cdr l)))) '()))
(display (length (sieve (range 2 999)))) (newline)
