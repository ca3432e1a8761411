(* outer (* inner *) still *)
let c = 'a' (* c *)
let f 'a x = "(* no"
