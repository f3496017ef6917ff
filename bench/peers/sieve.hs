range :: Int -> Int -> [Int]
range a b = if b < a then [] else a : range (a + 1) b
sieve :: [Int] -> [Int]
sieve [] = []
sieve (p:xs) = p : sieve (filter (\y -> y `mod` p /= 0) xs)
main = print (length (sieve (range 2 999)))
