// c
export const x = 1;
