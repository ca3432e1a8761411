' c
Rem c
Dim s = "it""s ' no"
