// c
__global__ void k() {}
