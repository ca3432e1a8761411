// c
const s = "// no";
const m = \\ multi // still string
;
