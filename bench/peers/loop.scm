(define (loop n a) (if (= n 0) a (loop (- n 1) (+ a 2))))
(display (loop 5000 1)) (newline)
