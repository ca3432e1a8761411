// c
/* a /* b */ c */
let s = "// no"
