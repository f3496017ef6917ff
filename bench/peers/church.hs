two f x = f (f x)
twelve f x = f (f (f (f (f (f (f (f (f (f (f (f x)))))))))))
pow m n = n m
main = print (pow two twelve (\n -> n + 1) (0 :: Int))
