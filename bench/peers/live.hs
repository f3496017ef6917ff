range :: Int -> Int -> [Int]
range a b = if b < a then [] else a : range (a + 1) b
sumlist :: [Int] -> Int
sumlist [] = 0
sumlist (x:xs) = x + sumlist xs
rep :: [Int] -> Int -> Int
rep l k = if k == 0 then 0 else sumlist l + rep l (k - 1)
main = print (rep (range 1 720) 200)
