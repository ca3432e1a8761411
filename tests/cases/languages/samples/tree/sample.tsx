const b = <b>it's "quoted"</b>; // c
/* a
   b */
