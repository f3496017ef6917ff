range :: Int -> Int -> [Int]
range a b = if b < a then [] else a : range (a + 1) b
main = print (sum' (map (\x -> x * 2) (range 1 3000)))
  where sum' [] = 0
        sum' (x:xs) = x + sum' xs :: Int
