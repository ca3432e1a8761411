" c
let s = "x" " c
let t = 'it''s'
