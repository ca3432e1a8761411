; c
(def s "; no") ; c
(def c \;)
