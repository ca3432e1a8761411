#!/bin/ksh
x=1 # c

