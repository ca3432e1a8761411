#| outer #| inner |# still |#
(print "; no") ; c
)
