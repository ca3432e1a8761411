#include <x.h>
# c
/* block
   c */
	mov r0, #1 @ c
@ arm comment
	.ascii "; no"  ; c
