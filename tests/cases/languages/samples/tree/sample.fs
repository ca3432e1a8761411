// c
(* block
   c *)
let s = """(* no"""
