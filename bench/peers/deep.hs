sumto :: Int -> Int
sumto n = if n == 0 then 0 else n + sumto (n - 1)
main = print (sumto 5000)
