loop :: Int -> Int -> Int
loop n a = if n == 0 then a else a `seq` loop (n - 1) (a + 2)
main = print (loop 5000 1)
