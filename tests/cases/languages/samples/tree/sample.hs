{-# LANGUAGE X #-}
{- outer {- inner -} still -}
f x = x' -- c
c = 'a'
s = "-- no"
