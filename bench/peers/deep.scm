(define (sumto n) (if (= n 0) 0 (+ n (sumto (- n 1)))))
(display (sumto 5000)) (newline)
