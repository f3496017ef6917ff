(define two (lambda (f) (lambda (x) (f (f x)))))
(define twelve (lambda (f) (lambda (x) (f (f (f (f (f (f (f (f (f (f (f (f x)))))))))))))))
(define (pow m n) (n m))
(display (((pow two twelve) (lambda (n) (+ n 1))) 0)) (newline)
